#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zk {

// The content codings of HTTP bodies the program can undo (RFC 9110, section
// 8.4.1; RFC 7932 for br, RFC 8878 for zstd).
enum class EContentCoding
{
    Gzip,    // also sent as x-gzip
    Deflate, // the zlib format, or raw deflate data, which some servers send under this name
    Brotli,
    Zstd,
    Count
};

enum class EContentDecode
{
    More,   // all input taken or the output is full: call again with more
    End,    // the coding's stream is complete; later input is not read
    Error,  // corrupt data, or a window larger than HTTP allows
    Capped, // the stream asked for more memory than the limit allows
};

// One streaming decoder of one content coding. Every byte of memory it holds
// is counted in the CMemory it was made with, and the decoders sharing one
// never hold more than its limit together: a stream that asks for a larger
// window or buffer fails with Error.
class CContentDecoder
{
public:
    // Counts and bounds the allocations of the library under a decoder.
    class CMemory
    {
    public:
        explicit CMemory(std::size_t limit) : m_limit(limit) {}
        void* Allocate(std::size_t size);
        void Free(void* block);
        std::size_t Bytes() const { return m_bytes; }
        std::size_t Limit() const { return m_limit; }

    private:
        std::size_t m_limit;
        std::size_t m_bytes = 0;
    };

    // A decoder counting its memory in memory, which must outlive it; null
    // when even its initial state does not fit.
    static std::unique_ptr<CContentDecoder> Create(EContentCoding coding, CMemory& memory);

    virtual ~CContentDecoder() = default;
    CContentDecoder(const CContentDecoder&) = delete;
    CContentDecoder& operator=(const CContentDecoder&) = delete;

    // Decodes from input into output, moving both pointers and lengths past
    // what was used. Decodes no more than the output has room for.
    virtual EContentDecode Decode(const std::uint8_t*& input, std::size_t& inputLength,
                                  std::uint8_t*& output, std::size_t& outputLength) = 0;

    // Asks the decoder to decode straight into buffer, which the caller
    // neither moves nor frees while the decoder lives: every Decode then
    // writes where the last one stopped, up to the buffer's end. A decoder
    // that can keep its window there needs no window of its own. Before the
    // first Decode; false when the decoder does not work that way.
    virtual bool UseStableOutput(std::uint8_t* /*buffer*/, std::size_t /*capacity*/)
    {
        return false;
    }

protected:
    explicit CContentDecoder(CMemory& memory) : m_memory(memory) {}

    CMemory& m_memory;
};

} // namespace zk
