#pragma once

#include "support/packet_builder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct nghttp2_hd_deflater;

namespace zk::test {

using CHeaderFields = std::vector<std::pair<std::string, std::string>>;

// One HTTP/2 frame (RFC 9113, section 4.1).
Bytes Http2Frame(std::uint8_t type, std::uint8_t flags, std::uint32_t streamId,
                 const Bytes& payload);

// The client's connection preface with an empty SETTINGS frame.
Bytes Http2ClientPreface();

// The frames a server sends, its header blocks compressed by the HPACK
// encoder of the same library the program decodes with, one encoder per
// connection so that the dynamic table is carried across blocks.
class CHttp2ServerFrames
{
public:
    // A table size the encoder starts with; like a server told 65536 by its
    // client, it may use that much after a size update.
    explicit CHttp2ServerFrames(std::size_t tableBytes = 4096);
    ~CHttp2ServerFrames();
    CHttp2ServerFrames(const CHttp2ServerFrames&) = delete;
    CHttp2ServerFrames& operator=(const CHttp2ServerFrames&) = delete;

    // The server's preface: a SETTINGS frame with one setting.
    static Bytes Preface();

    // A compressed header block; fields are indexed so later blocks refer to
    // the table.
    Bytes Block(const CHeaderFields& fields);

    // HEADERS with the block cut into fragments of at most fragmentBytes
    // (0: one), the rest in CONTINUATION frames; padding and priority as
    // asked.
    Bytes Headers(std::uint32_t streamId, const CHeaderFields& fields, bool endStream = false,
                  std::size_t fragmentBytes = 0, std::uint8_t padding = 0, bool priority = false);
    // A 200 response's HEADERS with a content type and perhaps a coding.
    Bytes Response(std::uint32_t streamId, const std::string& contentEncoding = {});

    // DATA frames of at most frameBytes each, with padding on every frame.
    static Bytes Data(std::uint32_t streamId, const std::string& body, bool endStream,
                      std::size_t frameBytes = 16384, std::uint8_t padding = 0);
    Bytes PushPromise(std::uint32_t streamId, std::uint32_t promised, const CHeaderFields& fields);
    static Bytes RstStream(std::uint32_t streamId);
    static Bytes GoAway(std::uint32_t lastStreamId);

    // Asks the encoder for a new table size; its next block starts with the
    // size update.
    void ChangeTableSize(std::size_t bytes);

private:
    nghttp2_hd_deflater* m_deflater = nullptr;
};

} // namespace zk::test
