#pragma once

#include "capture/chunked_body_reader.h"
#include "capture/simple_http_header.h"
#include "platform/content_decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

enum class ECodedBody
{
    NotRead,  // Update has not been called yet
    Plain,    // no content coding: the body is what it is on the wire
    Decoding, // more body bytes may decode to more
    Ended,    // the coded stream is complete: nothing more will decode
    Corrupt,  // corrupt or truncated
    Unknown,  // a coding the program cannot undo, or more of them than it undoes
    Capped,   // its decoder wanted more memory than allowed
};

// The decoded bytes of a response body sent with a content coding (RFC 9110,
// section 8.4), decoded as the body arrives: the transfer coding is undone
// first (chunked), then the content codings in the reverse of the order
// they were applied. Decoding stops once the bytes the caller can use are
// there, so a body that expands without end costs no more than a short one,
// and the decoders' memory is bounded by the limit set for the body. The
// object is not copied or moved: its decoders count their memory in it.
class CContentCodedBody
{
public:
    // More codings than this on one body are taken as unknown: nothing a
    // real server sends stacks more than two.
    static constexpr std::size_t kMaxCodings = 4;
    // Decoded bytes of one coding waiting for the next coding's decoder to
    // take them.
    static constexpr std::size_t kStageBufferBytes = 4096;
    // A decoder that decodes straight into the decoded bytes (zstd) writes a
    // whole block at a time, so their buffer has room for one more block
    // beyond the decoded limit: the largest a zstd block decodes to
    // (RFC 8878, section 3.1.1.2.4).
    static constexpr std::size_t kStableOutputSlackBytes = 128 * 1024;

    explicit CContentCodedBody(std::size_t memoryLimit) : m_memory(memoryLimit) {}
    CContentCodedBody(const CContentCodedBody&) = delete;
    CContentCodedBody& operator=(const CContentCodedBody&) = delete;

    // Reads the codings from the headers on the first call. Every call takes
    // the body received so far, from its first byte, and decodes the bytes
    // that came since the last call, until decodedLimit bytes are decoded
    // (the same limit on every call). Decoders are released once the body is
    // ended, corrupt or full; a full body is complete as far as the caller
    // is concerned, however far its stream goes on.
    ECodedBody Update(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                      std::size_t length, std::size_t decodedLimit);

    ECodedBody State() const { return m_state; }
    // The codings in the order they were applied; empty unless coded.
    const std::vector<EContentCoding>& Codings() const { return m_codings; }
    // The decoded bytes, no more than the limit.
    std::string_view Decoded() const
    {
        return {m_decoded.data(), std::min(m_decodedLength, m_decodedLimit)};
    }
    // Bytes the last Update added to Decoded().
    std::size_t NewBytes() const { return m_newBytes; }
    // What the decoding holds now: its decoders, buffers and decoded bytes.
    std::size_t MemoryBytes() const;

private:
    struct CStage
    {
        std::unique_ptr<CContentDecoder> m_decoder;
        // Input waiting for this stage's decoder (unused by the first stage,
        // which reads the body itself).
        std::vector<std::uint8_t> m_input;
        std::size_t m_inputAt = 0;
        bool m_ended = false;
    };

    void Start(const CSimpleHttpHeaderList& headers);
    bool PrepareOutput(std::size_t decodedLimit);
    void Decode(const std::uint8_t* body, std::size_t length, std::size_t decodedLimit);
    std::size_t Pump(const std::uint8_t* data, std::size_t length);
    bool RunStage(std::size_t index, const std::uint8_t* data, std::size_t length,
                  std::size_t& used);
    void Release();

    ECodedBody m_state = ECodedBody::NotRead;
    CContentDecoder::CMemory m_memory;
    std::vector<EContentCoding> m_codings;
    std::vector<CStage> m_stages; // in decoding order: the last coding applied first
    bool m_chunked = false;
    CChunkedBodyReader m_chunks;
    std::size_t m_rawAt = 0; // body bytes read, without chunked coding
    // Allocated once at the first decoding, and never moved while the
    // decoders live: a stable-output decoder keeps its window in it.
    std::string m_decoded;
    std::size_t m_decodedLength = 0;
    std::size_t m_decodedLimit = 0;
    std::size_t m_newBytes = 0;
};

} // namespace zk
