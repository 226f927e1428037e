#pragma once

#include "capture/tcp_ip_stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zk {

// One header line of a response: the name as written, the value trimmed.
struct CSimpleHttpHeader
{
    std::string m_name;
    std::string m_value;
};

using CSimpleHttpHeaderPtr = std::shared_ptr<CSimpleHttpHeader>;
using CSimpleHttpHeaderList = std::vector<CSimpleHttpHeaderPtr>;

// HTTP responses out of stream bytes; hands every response whose body has
// started to T::OnHttpResponse, which answers true while it wants more.
// (Placeholder: recognises nothing yet.)
template <class T> class CHttpCachedStream : public CTcpIpStream<T>
{
public:
    void StreamDataIn(const CTcpIpStreamInfo&, const std::uint8_t*, std::size_t) {}

    // The first header whose name matches, compared case-insensitively.
    static CSimpleHttpHeaderPtr FindHeader(const CSimpleHttpHeaderList& headers,
                                           const std::string& name);

    // Decodes a chunked body as far as its bytes go; false when the body is
    // not chunked or is malformed.
    static bool DecodeChunkedBody(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                                  std::size_t length, std::string& decoded);
};

} // namespace zk
