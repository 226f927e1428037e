#include "capture/tls_stream.h"

namespace zk {

std::array<std::string, 5> PortalTlsHosts()
{
    std::array<std::string, 5> hosts;
    const wchar_t* wide[] = {kMicroblogHost, kGameHost, kLifeHost, kBlogHost, kImageHost};
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        // Host names are ASCII; a ClientHello carries them in lower case
        // (RFC 6066, section 3, as DNS names compare).
        for (const wchar_t* c = wide[i]; *c; ++c) {
            wchar_t lower = *c >= L'A' && *c <= L'Z' ? *c - L'A' + L'a' : *c;
            hosts[i].push_back(static_cast<char>(lower));
        }
    }
    return hosts;
}

} // namespace zk
