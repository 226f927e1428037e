#pragma once

#include "support/child_process.h"
#include "support/microblog_page.h"
#include "support/netns.h"
#include "support/packet_recorder.h"
#include "support/test_env.h"
#include "support/tls_page_server.h"

#include <filesystem>
#include <string>

namespace zk::test {

// One microblog page that nginx serves over TLS in a veth pair of the test's
// own, while tcpdump records the watched adapter and the probe watches it
// with the key log a browser is to write: what the browser tests share.
class CWatchedTlsPage
{
public:
    // Makes the certificate and the page of the person with the id, over
    // HTTP/2 when asked; false (with Error()) when that fails.
    bool Serve(const std::string& id, bool http2);
    // Starts the recording and the probe, after anything the test adds
    // beside the server; false (with Error()) when either does not start.
    bool Watch(const std::string& probe);
    // Waits for the person, ends the probe and tcpdump, and reads the
    // capture file again with the same key log.
    void Finish(CProcessResult& live, CProcessResult& file);

    const std::string& Error() const { return m_error; }
    CVethPair& Net() { return m_net; }
    const CTlsPageServer& Server() const { return m_server; }
    const CMicroblogPage& Page() const { return m_page; }
    const std::filesystem::path& Folder() const { return m_dir.Path(); }
    std::string Address() const { return AddressText(CVethPair::kPeerAddress); }
    std::string KeyLog() const { return (m_dir.Path() / "keys.log").string(); }

private:
    std::filesystem::path CaptureFile() const { return m_dir.Path() / "capture.pcap"; }

    CVethPair m_net;
    CTlsPageServer m_server;
    CTempDir m_dir;
    CPacketRecorder m_recorder;
    CChildProcess m_probe;
    CMicroblogPage m_page;
    std::string m_probePath;
    std::string m_error;
};

} // namespace zk::test
