#include "capture/http_cached_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace zk {

const char kHttpStatusLinePattern[] = "^HTTP/[0-9]+\\.[0-9]+ [0-9]{3}";

namespace {

bool IsBlank(std::uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

void AppendHeader(CSimpleHttpHeaderList& headers, const std::uint8_t* name, std::size_t nameLength,
                  const std::uint8_t* value, std::size_t valueLength)
{
    if (nameLength == 0)
        return;
    while (valueLength > 0 && IsBlank(value[0])) {
        ++value;
        --valueLength;
    }
    while (valueLength > 0 && IsBlank(value[valueLength - 1]))
        --valueLength;
    auto header = std::make_shared<CSimpleHttpHeader>();
    header->m_name.assign(reinterpret_cast<const char*>(name), nameLength);
    header->m_value.assign(reinterpret_cast<const char*>(value), valueLength);
    headers.push_back(std::move(header));
}

} // namespace

bool IsHttpResponseStart(const boost::regex& statusLine, const std::uint8_t* data,
                         std::size_t length)
{
    if (length < 5 || std::memcmp(data, "HTTP/", 5) != 0)
        return false;
    const std::uint8_t* crlf = FindCrLf(data, data + length);
    if (!crlf)
        return false;
    try {
        return boost::regex_search(reinterpret_cast<const char*>(data),
                                   reinterpret_cast<const char*>(crlf), statusLine);
    } catch (const std::exception&) {
        return false;
    }
}

bool IsHttpResponseStartPrefix(const boost::regex& statusLine, const std::uint8_t* data,
                               std::size_t length, std::size_t maxLength)
{
    static constexpr std::size_t kVersionPrefixLength = 5; // "HTTP/"
    if (length == 0 || length >= maxLength ||
        std::memcmp(data, "HTTP/", std::min(length, kVersionPrefixLength)) != 0 ||
        FindCrLf(data, data + length))
        return false;
    if (length <= kVersionPrefixLength)
        return true;
    // A partial match is one that reaches the end of the bytes: more bytes
    // may complete it. A whole match still waits for its CR LF.
    try {
        boost::cmatch match;
        return boost::regex_search(reinterpret_cast<const char*>(data),
                                   reinterpret_cast<const char*>(data + length), match, statusLine,
                                   boost::match_default | boost::match_partial |
                                       boost::match_continuous);
    } catch (const std::exception&) {
        return false;
    }
}

EHttpHeaderBlock ParseHttpHeaderBlock(const std::uint8_t* bytes, std::size_t length,
                                      CSimpleHttpHeaderList& headers, std::size_t& bodyOffset)
{
    CHttpHeaderScan scan;
    headers.clear();
    return ContinueHttpHeaderBlock(scan, bytes, length, headers, bodyOffset);
}

EHttpHeaderBlock ContinueHttpHeaderBlock(CHttpHeaderScan& scan, const std::uint8_t* bytes,
                                         std::size_t length, CSimpleHttpHeaderList& headers,
                                         std::size_t& bodyOffset)
{
    using EState = CHttpHeaderScan::EState;
    std::size_t at = scan.m_at;
    if (scan.m_state == EState::StatusLine) {
        if (at >= length)
            return EHttpHeaderBlock::Incomplete;
        auto statusEnd =
            static_cast<const std::uint8_t*>(std::memchr(bytes + at, '\n', length - at));
        if (!statusEnd) {
            scan.m_at = length;
            return EHttpHeaderBlock::Incomplete;
        }
        at = statusEnd - bytes;
        if (at == 0 || bytes[at - 1] != '\r')
            return EHttpHeaderBlock::Invalid;
        ++at;
        scan.m_state = EState::LineStart;
        scan.m_lineStart = at;
    }

    EState state = scan.m_state;
    while (at < length) {
        std::uint8_t c = bytes[at];
        switch (state) {
        case EState::StatusLine: // left above, before the loop
            ++at;
            break;
        case EState::LineStart:
            // The empty line, and any line without a colon, ends the block.
            if (c == '\n') {
                bodyOffset = at + 1;
                scan.m_state = state;
                scan.m_at = at;
                return EHttpHeaderBlock::Complete;
            }
            if (c == ':') {
                scan.m_nameEnd = at;
                scan.m_valueStart = at + 1;
                state = EState::Value;
            }
            ++at;
            break;
        case EState::Value:
            if (c == '\n')
                state = EState::NextLine;
            else if (c == '"')
                state = EState::Quoted;
            ++at;
            break;
        case EState::Quoted:
            // The opening quote precedes this byte, so at - 1 is in range.
            if (c == '"' && bytes[at - 1] != '\\')
                state = EState::Value;
            ++at;
            break;
        case EState::NextLine:
            // A line starting with a blank folds into the value, CR LF and
            // blanks included (RFC 2616, section 4.2).
            if (c == ' ' || c == '\t') {
                state = EState::Value;
                ++at;
                break;
            }
            // The value ends at the LF before this line; the CR before it,
            // if any, goes with the trimming, so a line ended by a bare LF
            // keeps its last byte.
            AppendHeader(headers, bytes + scan.m_lineStart, scan.m_nameEnd - scan.m_lineStart,
                         bytes + scan.m_valueStart, at - 1 - scan.m_valueStart);
            scan.m_lineStart = at;
            state = EState::LineStart;
            break;
        }
    }
    scan.m_state = state;
    scan.m_at = at;
    return EHttpHeaderBlock::Incomplete;
}

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

CSimpleHttpHeaderPtr FindHttpHeader(const CSimpleHttpHeaderList& headers, const std::string& name)
{
    for (const CSimpleHttpHeaderPtr& header : headers) {
        if (EqualsNoCase(header->m_name, name))
            return header;
    }
    return nullptr;
}

} // namespace zk
