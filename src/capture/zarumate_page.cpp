#include "capture/zarumate_sock.h"

namespace zk {

// Placeholder until the page handler exists.
void CZarumateSock::PreparePageHandler() {}

bool CZarumateSock::OnHttpResponse(const CSimpleHttpHeaderList&, const std::uint8_t*, std::size_t)
{
    return false;
}

bool CZarumateSock::Scan(const std::wstring&)
{
    return false;
}

} // namespace zk
