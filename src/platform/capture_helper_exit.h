#pragma once

namespace zk::capture_helper {

// The exit statuses of zarumatekit-capture, one per step that can fail. The
// helper also writes the step and its errno on stderr; the program that
// started it turns both into its own message, with the system's text in its
// own language.
constexpr int kEnded = 0;         // its output closed or its parent went away
constexpr int kUsage = 2;         // the arguments were not an adapter name
constexpr int kSocketFailed = 10; // creating the packet socket
constexpr int kFilterFailed = 11; // the kernel filter
constexpr int kRingFailed = 12;   // the receive ring
constexpr int kBindFailed = 13;   // binding to the adapter
constexpr int kNonBlockingFailed = 14;
constexpr int kCapabilitiesFailed = 15; // clearing the capability sets
constexpr int kWaitFailed = 16;         // waiting on the ring
constexpr int kWriteFailed = 17;        // writing the output

// The program's file name, beside the programs that start it.
constexpr const char* kProgramName = "zarumatekit-capture";

} // namespace zk::capture_helper
