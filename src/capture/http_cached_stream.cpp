#include "capture/http_cached_stream.h"

#include <cstdlib>
#include <cstring>
#include <exception>

namespace zk {

const char kHttpStatusLinePattern[] = "^HTTP/[0-9]+\\.[0-9]+ [0-9]{3}";

namespace {

// Chunk sizes of 2^31 or more are refused: they do not fit the signed 32-bit
// counts the decoded body is measured in.
constexpr unsigned long kChunkSizeLimit = 0x80000000ul;

const std::uint8_t* FindCrLf(const std::uint8_t* first, const std::uint8_t* last)
{
    const std::uint8_t* from = first;
    while (last - from >= 2) {
        auto lf = static_cast<const std::uint8_t*>(std::memchr(from + 1, '\n', last - from - 1));
        if (!lf)
            return nullptr;
        if (lf[-1] == '\r')
            return lf - 1;
        from = lf;
    }
    return nullptr;
}

bool IsBlank(std::uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
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

// The first chunk-size line may carry chunk extensions after ";" (RFC 9112,
// section 7.1.1); the line is searched, so the match need not take all of it.
bool ReadFirstChunkSize(const std::uint8_t* first, const std::uint8_t* last, unsigned long& size)
{
    static const boost::regex sizeLine("^([0-9a-fA-F]+)(;.*)*");
    boost::cmatch match;
    try {
        if (!boost::regex_search(reinterpret_cast<const char*>(first),
                                 reinterpret_cast<const char*>(last), match, sizeLine))
            return false;
    } catch (const std::exception&) {
        return false;
    }
    size = 0;
    for (const char* digit = match[1].first; digit != match[1].second; ++digit) {
        char c = LowerAscii(*digit);
        size = size * 16 + static_cast<unsigned long>(c <= '9' ? c - '0' : c - 'a' + 10);
        // Stops before a long run of digits can overflow.
        if (size >= kChunkSizeLimit)
            return false;
    }
    return true;
}

// Later size lines are read strictly: the whole line must be what strtoul
// reads in base 16.
bool ReadNextChunkSize(const std::uint8_t* first, const std::uint8_t* last, unsigned long& size)
{
    std::string line(reinterpret_cast<const char*>(first), last - first);
    char* end = nullptr;
    size = std::strtoul(line.c_str(), &end, 16);
    if (end == line.c_str() || end != line.c_str() + line.size())
        return false;
    return size < kChunkSizeLimit;
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

EHttpHeaderBlock ParseHttpHeaderBlock(const std::uint8_t* bytes, std::size_t length,
                                      CSimpleHttpHeaderList& headers, std::size_t& bodyOffset)
{
    headers.clear();
    auto statusEnd = static_cast<const std::uint8_t*>(std::memchr(bytes, '\n', length));
    if (!statusEnd)
        return EHttpHeaderBlock::Incomplete;
    std::size_t at = statusEnd - bytes;
    if (at == 0 || bytes[at - 1] != '\r')
        return EHttpHeaderBlock::Invalid;
    ++at;

    enum class EState
    {
        LineStart, // in the name, looking for ":" or the LF of a line without one
        Value,
        Quoted,   // a LF does not end the value here
        NextLine, // the first byte of the next line decides on folding
    };
    EState state = EState::LineStart;
    std::size_t lineStart = at;
    std::size_t nameEnd = 0;
    std::size_t valueStart = 0;
    while (at < length) {
        std::uint8_t c = bytes[at];
        switch (state) {
        case EState::LineStart:
            // The empty line, and any line without a colon, ends the block.
            if (c == '\n') {
                bodyOffset = at + 1;
                return EHttpHeaderBlock::Complete;
            }
            if (c == ':') {
                nameEnd = at;
                valueStart = at + 1;
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
            AppendHeader(headers, bytes + lineStart, nameEnd - lineStart, bytes + valueStart,
                         at - 1 - valueStart);
            lineStart = at;
            state = EState::LineStart;
            break;
        }
    }
    return EHttpHeaderBlock::Incomplete;
}

CSimpleHttpHeaderPtr FindHttpHeader(const CSimpleHttpHeaderList& headers, const std::string& name)
{
    for (const CSimpleHttpHeaderPtr& header : headers) {
        if (EqualsNoCase(header->m_name, name))
            return header;
    }
    return nullptr;
}

bool DecodeChunkedHttpBody(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                           std::size_t length, std::string& decoded)
{
    decoded.clear();
    CSimpleHttpHeaderPtr coding = FindHttpHeader(headers, "Transfer-Encoding");
    if (!coding || !EqualsNoCase(coding->m_value, "chunked"))
        return false;

    const std::uint8_t* end = body + length;
    const std::uint8_t* lineEnd = FindCrLf(body, end);
    unsigned long size = 0;
    if (!lineEnd || !ReadFirstChunkSize(body, lineEnd, size))
        return false;

    // Bytes cut anywhere decode as far as they go, and the answer is true:
    // the rest of the body may still come.
    const std::uint8_t* at = lineEnd + 2;
    while (size > 0) {
        if (static_cast<std::size_t>(end - at) < size) {
            decoded.append(reinterpret_cast<const char*>(at), end - at);
            return true;
        }
        decoded.append(reinterpret_cast<const char*>(at), size);
        at += size;
        if (end - at < 2)
            return true;
        if (at[0] != '\r' || at[1] != '\n')
            return false;
        at += 2;
        lineEnd = FindCrLf(at, end);
        if (!lineEnd)
            return true;
        if (!ReadNextChunkSize(at, lineEnd, size))
            return false;
        at = lineEnd + 2;
    }
    // Trailer lines after the last chunk are not read.
    return true;
}

} // namespace zk
