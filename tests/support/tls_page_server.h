#pragma once

#include "support/child_process.h"
#include "support/netns.h"
#include "support/test_env.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zk::test {

// nginx serving pages over TLS in a namespace of the test's own, with a
// certificate for the portal's hosts, signed by a test authority, that the
// test makes with openssl. Port 443
// answers with OpenSSL's defaults (encrypt-then-MAC for CBC suites when the
// client asks), port 8443 refuses encrypt-then-MAC, port 8444 takes one
// curve only.
class CTlsPageServer
{
public:
    static constexpr int kPort = 443;
    static constexpr int kMacThenEncryptPort = 8443;
    // Only secp384r1 for key exchange: a client that sends an X25519 key
    // share first is answered with a HelloRetryRequest.
    static constexpr int kHelloRetryPort = 8444;

    CTlsPageServer();
    ~CTlsPageServer();
    CTlsPageServer(const CTlsPageServer&) = delete;
    CTlsPageServer& operator=(const CTlsPageServer&) = delete;

    // nginx then offers HTTP/2 by ALPN and gzip-codes the pages of a client
    // that asks; CurlArgs asks for HTTP/2. Before Start.
    void SetHttp2(bool http2) { m_http2 = http2; }

    // Makes the certificate; false (with Error()) when openssl fails.
    bool MakeCertificate();
    // A page at /name.
    bool AddPage(const std::string& name, const std::string& body);
    // Starts nginx in ns, listening on address (IPv4 or IPv6 text, without
    // brackets); waits until it answers.
    bool Start(const CNetns& ns, const std::string& address, const CNetns& clientNs);

    // For another server with this certificate and these pages (under
    // Dir()/pages): CurlArgs then resolves the portal's host to address.
    void UseAddress(const std::string& address) { m_address = address; }

    const std::filesystem::path& Dir() const { return m_dir.Path(); }
    // The server's certificate, and the test authority that signed it.
    std::filesystem::path CertificateFile() const { return m_dir.Path() / "cert.pem"; }
    std::filesystem::path AuthorityFile() const { return m_dir.Path() / "ca.pem"; }
    std::filesystem::path KeyFile() const { return m_dir.Path() / "key.pem"; }
    const std::string& Error() const { return m_error; }

    // The curl command line that fetches the pages over one connection,
    // the portal's host resolved to the server's address.
    std::vector<std::string> CurlArgs(const std::vector<std::string>& pages,
                                      const std::vector<std::string>& options,
                                      int port = kPort) const;

private:
    CTempDir m_dir;
    std::string m_address;
    CChildProcess m_nginx;
    bool m_started = false;
    bool m_http2 = false;
    std::string m_error;
};

} // namespace zk::test
