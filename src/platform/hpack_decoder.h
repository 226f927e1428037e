#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

struct nghttp2_hd_inflater;

namespace zk {

// The HPACK decoder of one direction of one HTTP/2 connection (RFC 7541):
// header blocks in, header fields out, with the dynamic table carried from
// block to block. Every byte the library holds for it is counted and bounded
// by the limit it was made with. Once a block fails, the table can no longer
// be trusted, so the decoder is broken for good: the library's state is
// released and every later block fails too.
class CHpackDecoder
{
public:
    // The largest dynamic table the sender may ask for. Browsers announce
    // 65536 bytes in their SETTINGS_HEADER_TABLE_SIZE, and their SETTINGS go
    // the way that is usually not read, so the decoder allows that much from
    // the start; the library's default of 4096 would refuse a server's size
    // update to what the browser allowed. A size update above it fails the
    // block.
    static constexpr std::size_t kMaxTableBytes = 65536;

    // Called for every field of a block, in order. The views are valid
    // during the call only.
    using CFieldSink = void (*)(void* context, std::string_view name, std::string_view value);

    // A decoder whose memory stays within memoryLimit bytes; null when even
    // its initial state does not fit.
    static std::unique_ptr<CHpackDecoder> Create(std::size_t memoryLimit);

    ~CHpackDecoder();
    CHpackDecoder(const CHpackDecoder&) = delete;
    CHpackDecoder& operator=(const CHpackDecoder&) = delete;

    // Decodes one whole header block (the fragments of a HEADERS or
    // PUSH_PROMISE frame and its CONTINUATION frames, put together). False
    // when the block is corrupt, refers to an entry the table does not hold,
    // asks for a table beyond kMaxTableBytes or needs more memory than
    // allowed; the decoder is then broken.
    bool Decode(const std::uint8_t* block, std::size_t length, CFieldSink sink, void* context);

    template <class F> bool Decode(const std::uint8_t* block, std::size_t length, F& onField)
    {
        return Decode(
            block, length,
            [](void* context, std::string_view name, std::string_view value) {
                (*static_cast<F*>(context))(name, value);
            },
            &onField);
    }

    bool IsBroken() const { return m_inflater == nullptr; }
    // What the library holds for the decoder now, its bookkeeping included.
    std::size_t MemoryBytes() const { return m_memory.m_bytes; }

    // The count of the library's allocations and its bound.
    struct CMemory
    {
        std::size_t m_limit = 0;
        std::size_t m_bytes = 0;
    };

private:
    // The library's allocator: the library keeps a pointer to it, so it
    // lives as long as the decoder.
    struct CAllocator;

    explicit CHpackDecoder(std::size_t memoryLimit);
    void Break();

    CMemory m_memory;
    std::unique_ptr<CAllocator> m_allocator;
    nghttp2_hd_inflater* m_inflater = nullptr;
};

} // namespace zk
