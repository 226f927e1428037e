#pragma once

#include "platform/pcapng_reader.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zk {

// The capture helper zarumatekit-capture as a child of this process: the
// only program that holds the capture capability. It opens the packet
// socket and writes what it captures as pcapng to a pipe, which this side
// reads; no packet socket ever comes into this process. The helper is
// started from the thread that reads it, since its death signal follows the
// thread that started it. The destructor stops it.
class CCaptureHelper
{
public:
    // How the helper ended, from its exit status and its report on stderr.
    struct CEnd
    {
        int status = -1;    // its exit status, or -1 when a signal ended it
        int err = 0;        // the errno of the step that failed, if it said
        std::string report; // what it wrote on stderr
    };

    CCaptureHelper() = default;
    CCaptureHelper(const CCaptureHelper&) = delete;
    CCaptureHelper& operator=(const CCaptureHelper&) = delete;
    ~CCaptureHelper() { Stop(); }

    // Where the helper is: beside this process's own executable (as in the
    // build tree and an installation), else in the installation's folder.
    static std::string Find();

    // Starts the helper on the adapter of this name; 0, or the errno of the
    // start (EACCES: this user may not run it).
    int Start(const std::string& path, const std::string& adapter);

    // Waits at most timeoutMs for output and hands what came to the
    // handler. ended is set once the output has ended: the helper is gone
    // or going, and End tells how. Answers 0, or an errno value when the
    // output could not be read (EPROTO: it was not a capture stream).
    int Read(int timeoutMs, CPcapngReader::CHandler& handler, bool& ended);

    // After the output has ended: waits for the helper and says how it ended.
    CEnd End();

    // Stops a running helper: its output is closed and it is told to end,
    // then reaped. Its end is then no failure and not reported.
    void Stop();

    bool IsRunning() const { return m_pid > 0; }

private:
    void CloseAll();

    pid_t m_pid = -1;
    int m_output = -1;
    int m_errors = -1;
    std::vector<std::uint8_t> m_buffer;
    CPcapngReader m_reader;
};

} // namespace zk
