#include "support/tls_page_server.h"

#include "support/microblog_page.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

namespace zk::test {
namespace {

using namespace std::chrono_literals;

// nginx comes up within a second; only a failure takes this long.
constexpr auto kStartPatience = 30s;

bool WriteFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return bool(out);
}

// nginx and curl take an IPv6 address beside a port only in brackets.
std::string Bracketed(const std::string& address)
{
    return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

std::string WithPort(const std::string& address, int port)
{
    return Bracketed(address) + ":" + std::to_string(port);
}

} // namespace

CTlsPageServer::CTlsPageServer()
{
    std::filesystem::create_directories(m_dir.Path() / "pages");
    WriteFile(m_dir.Path() / "pages" / "index.html", "ready\n");
}

CTlsPageServer::~CTlsPageServer()
{
    if (m_started) {
        m_nginx.Signal(SIGTERM);
        m_nginx.Finish(10s);
    }
}

bool CTlsPageServer::MakeCertificate()
{
    // A test authority signs the server's certificate: browsers that are
    // told to trust a certificate (Firefox through its profile's database)
    // take an authority only, never a server's own certificate as its own
    // issuer. The authority's key is an EC key, quick to make; the server's
    // is RSA, for the TLS 1.2 suites that need one.
    std::string host = MicroblogHost();
    std::filesystem::path authorityKey = m_dir.Path() / "ca-key.pem";
    std::filesystem::path request = m_dir.Path() / "server.csr";
    std::filesystem::path extensions = m_dir.Path() / "server.ext";
    if (!WriteFile(extensions, "subjectAltName=DNS:" + host +
                                   "\nbasicConstraints=critical,CA:FALSE\n"
                                   "extendedKeyUsage=serverAuth\n")) {
        m_error = "cannot write server.ext";
        return false;
    }
    const std::vector<std::vector<std::string>> steps{
        {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-days", "2", "-subj", "/CN=Zarumatekit test authority", "-keyout",
         authorityKey.string(), "-out", AuthorityFile().string()},
        {"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + host, "-keyout",
         KeyFile().string(), "-out", request.string()},
        {"openssl", "x509", "-req", "-in", request.string(), "-CA", AuthorityFile().string(),
         "-CAkey", authorityKey.string(), "-set_serial", "2", "-days", "2", "-extfile",
         extensions.string(), "-out", CertificateFile().string()},
    };
    for (const std::vector<std::string>& step : steps) {
        CProcessResult made = RunProcess(step);
        if (made.exitCode != 0) {
            m_error = "openssl " + step[1] + ": " + made.err;
            return false;
        }
    }
    return true;
}

bool CTlsPageServer::AddPage(const std::string& name, const std::string& body)
{
    return WriteFile(m_dir.Path() / "pages" / name, body);
}

bool CTlsPageServer::Start(const CNetns& ns, const std::string& address, const CNetns& clientNs)
{
    m_address = address;
    std::string dir = m_dir.Path().string();
    std::string server = "    ssl_certificate " + CertificateFile().string() +
                         ";\n"
                         "    ssl_certificate_key " +
                         KeyFile().string() +
                         ";\n"
                         "    ssl_protocols TLSv1.2 TLSv1.3;\n"
                         "    ssl_ciphers ALL;\n"
                         "    server_name " +
                         MicroblogHost() +
                         ";\n"
                         "    root " +
                         dir +
                         "/pages;\n"
                         "    keepalive_requests 100;\n";
    std::string options = m_http2 ? " ssl http2;\n" : " ssl;\n";
    std::string config = "worker_processes 1;\n"
                         // The test's folder is root's own; the worker reads the pages in it.
                         "user root;\n"
                         "pid " +
                         dir +
                         "/nginx.pid;\n"
                         "error_log " +
                         dir +
                         "/error.log;\n"
                         "events { worker_connections 64; }\n"
                         "http {\n"
                         "  access_log off;\n"
                         "  client_body_temp_path " +
                         dir +
                         "/body;\n"
                         "  proxy_temp_path " +
                         dir +
                         "/proxy;\n"
                         "  fastcgi_temp_path " +
                         dir +
                         "/fastcgi;\n"
                         "  uwsgi_temp_path " +
                         dir +
                         "/uwsgi;\n"
                         "  scgi_temp_path " +
                         dir +
                         "/scgi;\n"
                         "  types { text/html html; }\n" +
                         std::string(m_http2 ? "  gzip on;\n  gzip_min_length 0;\n" : "") +
                         "  server {\n"
                         "    listen " +
                         WithPort(address, kPort) + options + server +
                         "  }\n"
                         "  server {\n"
                         "    listen " +
                         WithPort(address, kMacThenEncryptPort) + options + server +
                         "    ssl_conf_command Options -EncryptThenMac;\n"
                         "  }\n"
                         "  server {\n"
                         "    listen " +
                         WithPort(address, kHelloRetryPort) + options + server +
                         "    ssl_ecdh_curve secp384r1;\n"
                         "  }\n"
                         "}\n";
    if (!WriteFile(m_dir.Path() / "nginx.conf", config)) {
        m_error = "cannot write nginx.conf";
        return false;
    }
    if (!m_nginx.Start(
            ns.ExecArgs({"nginx", "-p", dir, "-c", dir + "/nginx.conf", "-g", "daemon off;"}))) {
        m_error = "nginx does not start";
        return false;
    }
    m_started = true;
    // Ready once a client's handshake completes.
    auto deadline = std::chrono::steady_clock::now() + kStartPatience;
    CProcessResult probe;
    while (std::chrono::steady_clock::now() < deadline) {
        probe = RunProcess(clientNs.ExecArgs(CurlArgs({}, {"-o", "/dev/null"})), {}, 10s);
        if (probe.exitCode == 0)
            return true;
        std::this_thread::sleep_for(50ms);
    }
    m_nginx.Pump(10ms);
    m_error = "nginx does not answer: " + probe.err + m_nginx.ErrorOutput();
    return false;
}

std::vector<std::string> CTlsPageServer::CurlArgs(const std::vector<std::string>& pages,
                                                  const std::vector<std::string>& options,
                                                  int port) const
{
    std::string host = MicroblogHost();
    std::string origin = "https://" + host + ":" + std::to_string(port) + "/";
    std::vector<std::string> args{"curl",
                                  "--silent",
                                  "--show-error",
                                  "--fail",
                                  m_http2 ? "--http2" : "--http1.1",
                                  "--noproxy",
                                  "*",
                                  "--cacert",
                                  AuthorityFile().string(),
                                  "--resolve",
                                  host + ":" + std::to_string(port) + ":" + Bracketed(m_address)};
    args.insert(args.end(), options.begin(), options.end());
    if (pages.empty())
        args.push_back(origin);
    for (const std::string& page : pages)
        args.push_back(origin + page);
    return args;
}

} // namespace zk::test
