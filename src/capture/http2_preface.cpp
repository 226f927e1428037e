#include "capture/http2_preface.h"

#include "capture/http2_frame_reader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace zk {
namespace {

constexpr std::string_view kClientPreface = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n";
constexpr std::string_view kSwitching = "HTTP/1.1 101";
constexpr std::string_view kHttp1 = "HTTP/1.";
constexpr std::string_view kHeadEnd = "\r\n\r\n";

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view start)
{
    if (text.size() < start.size())
        return false;
    for (std::size_t i = 0; i < start.size(); ++i) {
        if (LowerAscii(text[i]) != start[i])
            return false;
    }
    return true;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// An Upgrade value lists protocols separated by commas (RFC 9110, section
// 7.8); h2c is one of them.
bool NamesH2c(std::string_view value)
{
    while (!value.empty()) {
        std::size_t comma = value.find(',');
        std::string_view item = Trimmed(value.substr(0, comma));
        if (item.size() == 3 && StartsWithNoCase(item, "h2c"))
            return true;
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

} // namespace

bool IsHttp2ClientPreface(const std::uint8_t* data, std::size_t length)
{
    if (length < kHttp2ClientPrefaceLineBytes)
        return false;
    std::size_t compare = std::min(length, kClientPreface.size());
    return std::memcmp(data, kClientPreface.data(), compare) == 0;
}

bool IsHttp2ServerPreface(const std::uint8_t* data, std::size_t length, std::size_t maxFrameBytes)
{
    if (length < CHttp2FrameReader::kFrameHeaderBytes)
        return false;
    std::size_t frameLength = std::size_t(data[0]) << 16 | std::size_t(data[1]) << 8 | data[2];
    bool streamZero = (data[5] & 0x7F) == 0 && data[6] == 0 && data[7] == 0 && data[8] == 0;
    return data[3] == CHttp2FrameReader::kSettings && data[4] == 0 && streamZero &&
           frameLength % 6 == 0 && frameLength <= maxFrameBytes &&
           frameLength <= length - CHttp2FrameReader::kFrameHeaderBytes;
}

bool IsHttp1Response(const std::uint8_t* data, std::size_t length)
{
    return length >= kHttp1.size() && std::memcmp(data, kHttp1.data(), kHttp1.size()) == 0;
}

bool IsH2cUpgrade(const std::uint8_t* data, std::size_t length, std::size_t& framesAt)
{
    std::string_view piece(reinterpret_cast<const char*>(data), length);
    if (piece.substr(0, kSwitching.size()) != kSwitching)
        return false;
    std::size_t end = piece.find(kHeadEnd);
    if (end == std::string_view::npos)
        return false;
    std::string_view head = piece.substr(0, end + 2);
    bool upgrade = false;
    for (std::size_t line = head.find("\r\n"); line + 2 < head.size();) {
        std::size_t start = line + 2;
        std::size_t next = head.find("\r\n", start);
        std::string_view text = head.substr(start, next - start);
        if (StartsWithNoCase(text, "upgrade:") && NamesH2c(text.substr(8)))
            upgrade = true;
        line = next;
    }
    if (!upgrade)
        return false;
    framesAt = end + kHeadEnd.size();
    return true;
}

} // namespace zk
