#pragma once

#include "support/child_process.h"
#include "support/netns.h"

#include <filesystem>
#include <string>

namespace zk::test {

// tcpdump writing every TCP packet of one adapter of a namespace into a
// capture file, for the traffic a test watched live to be read again from
// the file.
class CPacketRecorder
{
public:
    // Starts tcpdump and waits until it listens; false (with Error()) when
    // it does not.
    bool Start(const CNetns& ns, const std::string& adapter, const std::filesystem::path& file);
    // Ends tcpdump, which writes out what it holds; false when it does not
    // end, or ends with a failure.
    bool Stop();
    const std::string& Error() const { return m_error; }

private:
    CChildProcess m_tcpdump;
    std::string m_error;
};

} // namespace zk::test
