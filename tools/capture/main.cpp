// zarumatekit-capture: the one program of the package that holds the
// capture capability. It opens the packet socket on the adapter it is given,
// gives up every capability before it reads a single datagram, and writes
// the machine's own IP traffic to its standard output as pcapng. The
// program and the probe start it and read what it writes; run by hand,
// "zarumatekit-capture --adapter eth0 | tshark -r -" works as well.

#include "capture_args.h"
#include "pcapng_writer.h"
#include "platform/capture_helper_exit.h"
#include "platform/capture_socket.h"
#include "platform/thread_priority.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace zk {
namespace {

using namespace capture_helper;

// The pipe to the reader holds a whole ring block, so that a reader that
// falls behind for a moment costs the ring nothing. 1 MiB is also the most
// an unprivileged process may ask for by default.
constexpr int kPipeBytes = 1024 * 1024;
// How long one wait for the kernel's next block lasts before the helper
// looks whether its reader is still there.
constexpr int kWaitMs = 50;

int Fail(int status, const char* step, int err)
{
    std::fprintf(stderr, "%s: %s: %s (errno %d)\n", kProgramName, step, std::strerror(err), err);
    return status;
}

// Drops every capability, permitted and inheritable ones included, and the
// ambient set, so that nothing this process does from here on is
// privileged; and no program it could start gains any either.
int ClearCapabilities()
{
    cap_t none = cap_init();
    if (!none)
        return errno;
    int err = cap_set_proc(none) == 0 ? 0 : errno;
    if (err == 0 && prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 &&
        errno != EINVAL)
        err = errno;
    if (err == 0 && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        err = errno;
    if (err == 0) {
        cap_t now = cap_get_proc();
        if (!now || cap_compare(now, none) != 0)
            err = EPERM;
        cap_free(now);
    }
    cap_free(none);
    return err;
}

std::uint64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

// True once nobody reads the output any more (a pipe whose reader closed
// it or died reports an error to its writer).
bool OutputClosed()
{
    pollfd output{STDOUT_FILENO, 0, 0};
    return poll(&output, 1, 0) > 0 && (output.revents & (POLLERR | POLLHUP | POLLNVAL));
}

// A write that failed because the reader went is the normal end.
int WriteFailed(int err)
{
    return err == EPIPE ? kEnded : Fail(kWriteFailed, "write", err);
}

int Capture(const std::string& adapter)
{
    // Not a pipe (a file, a terminal): then there is nothing to raise.
    fcntl(STDOUT_FILENO, F_SETPIPE_SZ, kPipeBytes);

    // The order of the set-up is the socket layer's: the filter and the
    // ring come before the bind, so that nothing is queued outside them.
    CCaptureSocket socket;
    if (int err = socket.Open())
        return Fail(kSocketFailed, "socket", err);
    if (int err = socket.SetTcpFilter())
        return Fail(kFilterFailed, "filter", err);
    if (int err = socket.SetUpRing())
        return Fail(kRingFailed, "ring", err);
    unsigned index = if_nametoindex(adapter.c_str());
    if (index == 0)
        return Fail(kBindFailed, "bind", errno);
    if (int err = socket.Bind(static_cast<int>(index)))
        return Fail(kBindFailed, "bind", err);
    if (int err = socket.SetNonBlocking())
        return Fail(kNonBlockingFailed, "non-blocking mode", err);
    if (int err = ClearCapabilities())
        return Fail(kCapabilitiesFailed, "capabilities", err);
    // The ring overflows while the helper waits for its turn: short turns
    // bring it back soon after the kernel hands over a block.
    SetCurrentThreadShortTurns();

    // The headers tell the reader that the capture runs.
    CPcapngWriter writer(STDOUT_FILENO);
    writer.AddHeader(adapter);
    if (int err = writer.Flush())
        return WriteFailed(err);

    std::uint64_t reported = 0;
    for (;;) {
        bool ready = false;
        if (int err = socket.WaitForBlock(kWaitMs, ready))
            return Fail(kWaitFailed, "wait", err);
        if (ready) {
            // A block is handed over within a few milliseconds of its first
            // datagram, so its datagrams share one reading of the clock.
            std::uint64_t now = NowNs();
            const std::uint8_t* data = nullptr;
            std::size_t length = 0;
            while (socket.NextDatagram(data, length))
                writer.AddDatagram(now, data, length);
        }
        // The kernel counts drops afresh after each reading; the socket
        // keeps the sum, which is what the statistics block carries.
        std::uint64_t drops = 0;
        if (socket.ReadKernelDrops(drops) == 0 && drops != reported) {
            writer.AddDrops(NowNs(), drops);
            reported = drops;
        }
        // The datagrams are written from the ring, so the block goes back
        // only after the write, which ends once the reader has taken them.
        int err = writer.Flush();
        socket.ReleaseBlock();
        if (err)
            return WriteFailed(err);
        if (OutputClosed())
            return kEnded;
    }
}

} // namespace
} // namespace zk

int main(int argc, char** argv)
{
    using namespace zk::capture_helper;
    // Nothing of the starter's environment reaches a privileged process:
    // no library, locale or path it could name.
    clearenv();
    // The parent's end stops the capture: the kernel clears a death signal
    // set before the exec of a program that gains capabilities, so it is set
    // here, and a parent that died before that is noticed by the changed
    // parent id or, at the latest, by its closed pipe.
    pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        return kEnded;
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // A reader that goes away ends the run through EPIPE, quietly.
    std::signal(SIGPIPE, SIG_IGN);

    std::string adapter;
    std::string error;
    if (!zk::ParseCaptureArgs(std::vector<std::string>(argv + 1, argv + argc), adapter, error)) {
        std::fprintf(stderr, "%s: %s\n", kProgramName, error.c_str());
        return kUsage;
    }
    return zk::Capture(adapter);
}
