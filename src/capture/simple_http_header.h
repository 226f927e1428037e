#pragma once

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

// The first header whose name matches, compared case-insensitively.
CSimpleHttpHeaderPtr FindHttpHeader(const CSimpleHttpHeaderList& headers, const std::string& name);

// Case-insensitive comparison of ASCII names and tokens.
bool EqualsNoCase(const std::string& a, const std::string& b);

} // namespace zk
