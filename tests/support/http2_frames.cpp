#include "support/http2_frames.h"

#include <algorithm>
#include <cstring>
#include <nghttp2/nghttp2.h>

namespace zk::test {

Bytes Http2Frame(std::uint8_t type, std::uint8_t flags, std::uint32_t streamId,
                 const Bytes& payload)
{
    std::size_t length = payload.size();
    Bytes frame(9 + length);
    frame[0] = static_cast<std::uint8_t>(length >> 16);
    frame[1] = static_cast<std::uint8_t>(length >> 8);
    frame[2] = static_cast<std::uint8_t>(length);
    frame[3] = type;
    frame[4] = flags;
    for (int i = 0; i < 4; ++i)
        frame[5 + i] = static_cast<std::uint8_t>(streamId >> (24 - 8 * i));
    std::copy(payload.begin(), payload.end(), frame.begin() + 9);
    return frame;
}

namespace {

// A frame payload: the fields before the content, the content, the padding.
Bytes Payload(const Bytes& lead, const std::uint8_t* content, std::size_t length,
              std::size_t padding)
{
    Bytes payload(lead.size() + length + padding, 0);
    std::copy(lead.begin(), lead.end(), payload.begin());
    std::copy(content, content + length, payload.begin() + lead.size());
    return payload;
}

} // namespace

Bytes Http2ClientPreface()
{
    Bytes preface = ToBytes("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n");
    Bytes settings = Http2Frame(NGHTTP2_SETTINGS, 0, 0, {});
    preface.insert(preface.end(), settings.begin(), settings.end());
    return preface;
}

CHttp2ServerFrames::CHttp2ServerFrames(std::size_t tableBytes)
{
    nghttp2_hd_deflate_new(&m_deflater, tableBytes);
}

CHttp2ServerFrames::~CHttp2ServerFrames()
{
    nghttp2_hd_deflate_del(m_deflater);
}

Bytes CHttp2ServerFrames::Preface()
{
    // SETTINGS_MAX_CONCURRENT_STREAMS = 100
    return Http2Frame(NGHTTP2_SETTINGS, 0, 0, {0x00, 0x03, 0x00, 0x00, 0x00, 0x64});
}

Bytes CHttp2ServerFrames::Block(const CHeaderFields& fields)
{
    std::vector<nghttp2_nv> nva;
    for (const auto& [name, value] : fields) {
        nva.push_back({reinterpret_cast<std::uint8_t*>(const_cast<char*>(name.data())),
                       reinterpret_cast<std::uint8_t*>(const_cast<char*>(value.data())),
                       name.size(), value.size(), NGHTTP2_NV_FLAG_NONE});
    }
    Bytes block(nghttp2_hd_deflate_bound(m_deflater, nva.data(), nva.size()));
    ssize_t length =
        nghttp2_hd_deflate_hd(m_deflater, block.data(), block.size(), nva.data(), nva.size());
    block.resize(length < 0 ? 0 : static_cast<std::size_t>(length));
    return block;
}

Bytes CHttp2ServerFrames::Headers(std::uint32_t streamId, const CHeaderFields& fields,
                                  bool endStream, std::size_t fragmentBytes, std::uint8_t padding,
                                  bool priority)
{
    Bytes block = Block(fields);
    std::size_t first = fragmentBytes ? std::min(fragmentBytes, block.size()) : block.size();
    Bytes lead;
    std::uint8_t flags = endStream ? NGHTTP2_FLAG_END_STREAM : 0;
    if (padding) {
        flags |= NGHTTP2_FLAG_PADDED;
        lead.push_back(padding);
    }
    if (priority) {
        flags |= NGHTTP2_FLAG_PRIORITY;
        for (std::uint8_t byte : {0x80, 0x00, 0x00, 0x03, 0xFF}) // exclusive on 3
            lead.push_back(byte);
    }
    Bytes payload = Payload(lead, block.data(), first, padding);
    if (first == block.size())
        flags |= NGHTTP2_FLAG_END_HEADERS;
    Bytes frames = Http2Frame(NGHTTP2_HEADERS, flags, streamId, payload);
    for (std::size_t at = first; at < block.size(); at += fragmentBytes) {
        std::size_t end = std::min(at + fragmentBytes, block.size());
        Bytes fragment(block.begin() + at, block.begin() + end);
        Bytes frame =
            Http2Frame(NGHTTP2_CONTINUATION, end == block.size() ? NGHTTP2_FLAG_END_HEADERS : 0,
                       streamId, fragment);
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    return frames;
}

Bytes CHttp2ServerFrames::Response(std::uint32_t streamId, const std::string& contentEncoding)
{
    CHeaderFields fields{
        {":status", "200"}, {"content-type", "text/html; charset=UTF-8"}, {"server", "test"}};
    if (!contentEncoding.empty())
        fields.emplace_back("content-encoding", contentEncoding);
    return Headers(streamId, fields);
}

Bytes CHttp2ServerFrames::Data(std::uint32_t streamId, const std::string& body, bool endStream,
                               std::size_t frameBytes, std::uint8_t padding)
{
    Bytes frames;
    std::size_t at = 0;
    do {
        std::size_t end = std::min(at + frameBytes, body.size());
        bool last = end == body.size();
        Bytes lead;
        std::uint8_t flags = last && endStream ? NGHTTP2_FLAG_END_STREAM : 0;
        if (padding) {
            flags |= NGHTTP2_FLAG_PADDED;
            lead.push_back(padding);
        }
        Bytes payload = Payload(lead, reinterpret_cast<const std::uint8_t*>(body.data()) + at,
                                end - at, padding);
        Bytes frame = Http2Frame(NGHTTP2_DATA, flags, streamId, payload);
        frames.insert(frames.end(), frame.begin(), frame.end());
        at = end;
    } while (at < body.size());
    return frames;
}

Bytes CHttp2ServerFrames::PushPromise(std::uint32_t streamId, std::uint32_t promised,
                                      const CHeaderFields& fields)
{
    Bytes payload{static_cast<std::uint8_t>(promised >> 24),
                  static_cast<std::uint8_t>(promised >> 16),
                  static_cast<std::uint8_t>(promised >> 8), static_cast<std::uint8_t>(promised)};
    Bytes block = Block(fields);
    payload.insert(payload.end(), block.begin(), block.end());
    return Http2Frame(NGHTTP2_PUSH_PROMISE, NGHTTP2_FLAG_END_HEADERS, streamId, payload);
}

Bytes CHttp2ServerFrames::RstStream(std::uint32_t streamId)
{
    return Http2Frame(NGHTTP2_RST_STREAM, 0, streamId, {0, 0, 0, NGHTTP2_CANCEL});
}

Bytes CHttp2ServerFrames::GoAway(std::uint32_t lastStreamId)
{
    return Http2Frame(NGHTTP2_GOAWAY, 0, 0,
                      {static_cast<std::uint8_t>(lastStreamId >> 24),
                       static_cast<std::uint8_t>(lastStreamId >> 16),
                       static_cast<std::uint8_t>(lastStreamId >> 8),
                       static_cast<std::uint8_t>(lastStreamId), 0, 0, 0, 0, 'b', 'y', 'e'});
}

void CHttp2ServerFrames::ChangeTableSize(std::size_t bytes)
{
    nghttp2_hd_deflate_change_table_size(m_deflater, bytes);
}

} // namespace zk::test
