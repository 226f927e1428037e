#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zk {

// What the frame reader found (RFC 9113, section 6).
enum class EHttp2Event
{
    NeedMore,    // every byte given has been read
    HeaderBlock, // a whole header block of HEADERS or PUSH_PROMISE, CONTINUATION frames joined
    Data,        // payload bytes of a DATA frame, its padding left out
    StreamEnd,   // the sender's last frame on the stream (END_STREAM)
    Reset,       // RST_STREAM
    GoAway,      // GOAWAY
    Error,       // the framing broke: the reader reads nothing more
};

struct CHttp2Event
{
    std::uint32_t m_streamId = 0;
    // Data: bytes of the input; HeaderBlock: the block, valid until the next
    // call of Read.
    const std::uint8_t* m_data = nullptr;
    std::size_t m_length = 0;
    bool m_endStream = false;         // HeaderBlock: its HEADERS frame ends the stream
    bool m_promise = false;           // HeaderBlock: a PUSH_PROMISE's (a request's headers)
    std::uint32_t m_lastStreamId = 0; // GoAway
    std::uint32_t m_errorCode = 0;    // Reset and GoAway
};

// The frames of one direction of an HTTP/2 connection, read from its bytes
// in pieces of any size. It keeps only what it has not finished: the header
// of a frame cut short, and the header block being gathered; DATA goes
// through as it comes. Frames of other types are skipped by their length,
// as the protocol wants for unknown ones. Anything that breaks the framing
// (a length beyond the bound, a header block beyond its bound, a frame on a
// stream it cannot be on, padding longer than its frame, a header block
// interrupted by another frame) is an error, after which the reader is
// done: what follows cannot be told apart from noise.
class CHttp2FrameReader
{
public:
    static constexpr std::size_t kFrameHeaderBytes = 9;

    // Frame types and flags the reader looks at (RFC 9113, section 6).
    static constexpr std::uint8_t kData = 0x0;
    static constexpr std::uint8_t kHeaders = 0x1;
    static constexpr std::uint8_t kRstStream = 0x3;
    static constexpr std::uint8_t kSettings = 0x4;
    static constexpr std::uint8_t kPushPromise = 0x5;
    static constexpr std::uint8_t kGoAway = 0x7;
    static constexpr std::uint8_t kContinuation = 0x9;
    static constexpr std::uint8_t kFlagEndStream = 0x1;
    static constexpr std::uint8_t kFlagAck = 0x1;
    static constexpr std::uint8_t kFlagEndHeaders = 0x4;
    static constexpr std::uint8_t kFlagPadded = 0x8;
    static constexpr std::uint8_t kFlagPriority = 0x20;

    CHttp2FrameReader(std::size_t maxFrameBytes, std::size_t maxHeaderBlockBytes)
        : m_maxFrameBytes(maxFrameBytes), m_maxHeaderBlockBytes(maxHeaderBlockBytes)
    {}

    // Reads from data until something happens: data and length move past
    // what was read, and event tells what happened (for the kinds that carry
    // something). NeedMore once all is read; call again after anything else.
    EHttp2Event Read(const std::uint8_t*& data, std::size_t& length, CHttp2Event& event);

    // True between frames, with no header block begun.
    bool IsIdle() const;
    // The memory of the header block buffer.
    std::size_t MemoryBytes() const { return m_block.capacity(); }

private:
    // Takes up to most bytes of the frame's payload from the input and
    // answers how many it took.
    std::size_t TakePayload(const std::uint8_t*& data, std::size_t& length, std::size_t most);

    enum class EPart
    {
        FrameHeader,
        DataPadLength,
        Data,    // m_dataLeft payload bytes, then padding
        Block,   // a header block fragment with its padding and other fields
        Control, // RST_STREAM and GOAWAY: the first bytes are kept
        Skip,
        Broken,
    };

    bool StartFrame();
    bool FinishBlockFrame(CHttp2Event& event, bool& complete);
    EHttp2Event Fail();

    std::size_t m_maxFrameBytes;
    std::size_t m_maxHeaderBlockBytes;
    EPart m_part = EPart::FrameHeader;

    std::array<std::uint8_t, kFrameHeaderBytes> m_header{};
    std::size_t m_headerHave = 0;
    std::uint8_t m_type = 0;
    std::uint8_t m_flags = 0;
    std::uint32_t m_streamId = 0;
    std::size_t m_left = 0; // payload bytes of the frame not yet read
    std::size_t m_dataLeft = 0;

    // The header block being gathered: the fragments of the frames read so
    // far, and the whole payload of the frame being read from m_frameStart.
    std::vector<std::uint8_t> m_block;
    std::size_t m_frameStart = 0;
    std::uint32_t m_blockStreamId = 0;
    bool m_continuationDue = false;
    bool m_blockEndStream = false;
    bool m_blockPromise = false;
    bool m_blockHandedOut = false; // the last Read returned it

    std::array<std::uint8_t, 8> m_control{};
    std::size_t m_controlHave = 0;
};

} // namespace zk
