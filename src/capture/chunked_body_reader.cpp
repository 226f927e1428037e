#include "capture/chunked_body_reader.h"

#include <algorithm>
#include <boost/regex.hpp>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace zk {
namespace {

// Chunk sizes of 2^31 or more are refused: they do not fit the signed 32-bit
// counts the decoded body is measured in.
constexpr unsigned long kChunkSizeLimit = 0x80000000ul;

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
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

bool IsChunkedHttpBody(const CSimpleHttpHeaderList& headers)
{
    CSimpleHttpHeaderPtr coding = FindHttpHeader(headers, "Transfer-Encoding");
    return coding && EqualsNoCase(coding->m_value, "chunked");
}

bool DecodeChunkedHttpBody(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                           std::size_t length, std::string& decoded)
{
    decoded.clear();
    if (!IsChunkedHttpBody(headers))
        return false;
    CChunkedBodyReader reader;
    const std::uint8_t* data = nullptr;
    std::size_t dataLength = 0;
    while (reader.NextData(body, length, data, dataLength)) {
        decoded.append(reinterpret_cast<const char*>(data), dataLength);
        reader.Consume(dataLength);
    }
    // Bytes cut anywhere decode as far as they go, and the answer is true:
    // the rest of the body may still come. A body whose first size line has
    // not ended yet has decoded nothing.
    return !reader.IsMalformed() && reader.HasFirstSizeLine();
}

bool CChunkedBodyReader::NextData(const std::uint8_t* body, std::size_t length,
                                  const std::uint8_t*& data, std::size_t& dataLength)
{
    for (;;) {
        switch (m_state) {
        case EState::SizeLine: {
            // The search resumes where the last one ended, one byte back for
            // a CR that was the last byte then.
            std::size_t from = std::max(m_at, m_scanned > 0 ? m_scanned - 1 : 0);
            const std::uint8_t* lineEnd = FindCrLf(body + from, body + length);
            if (!lineEnd) {
                m_scanned = length;
                return false;
            }
            unsigned long size = 0;
            bool read = m_first ? ReadFirstChunkSize(body + m_at, lineEnd, size)
                                : ReadNextChunkSize(body + m_at, lineEnd, size);
            if (!read) {
                m_state = EState::Malformed;
                return false;
            }
            m_first = false;
            m_at = lineEnd + 2 - body;
            m_scanned = m_at;
            // Trailer lines after the last chunk are not read.
            m_state = size == 0 ? EState::Complete : EState::Data;
            m_left = size;
            break;
        }
        case EState::Data:
            if (m_at >= length)
                return false;
            data = body + m_at;
            dataLength = std::min<std::size_t>(m_left, length - m_at);
            return true;
        case EState::DataEnd:
            if (length - m_at < 2)
                return false;
            if (body[m_at] != '\r' || body[m_at + 1] != '\n') {
                m_state = EState::Malformed;
                return false;
            }
            m_at += 2;
            m_scanned = m_at;
            m_state = EState::SizeLine;
            break;
        case EState::Complete:
        case EState::Malformed:
            return false;
        }
    }
}

void CChunkedBodyReader::Consume(std::size_t used)
{
    m_at += used;
    m_left -= used;
    if (m_left == 0)
        m_state = EState::DataEnd;
}

} // namespace zk
