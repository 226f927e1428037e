#include "platform/hpack_decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <nghttp2/nghttp2.h>

namespace zk {
namespace {

// The size of a block goes in front of it, in room that keeps the block as
// aligned as malloc's own.
constexpr std::size_t kBlockHeaderBytes = alignof(std::max_align_t);
static_assert(kBlockHeaderBytes >= sizeof(std::size_t));

using CMemory = CHpackDecoder::CMemory;

// The library frees without saying how much, so the size of every block sits
// in front of it.
void* Allocate(std::size_t size, void* user)
{
    auto& memory = *static_cast<CMemory*>(user);
    if (size > memory.m_limit - memory.m_bytes ||
        kBlockHeaderBytes > memory.m_limit - memory.m_bytes - size)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(kBlockHeaderBytes + size));
    if (!block)
        return nullptr;
    std::memcpy(block, &size, sizeof size);
    memory.m_bytes += kBlockHeaderBytes + size;
    return block + kBlockHeaderBytes;
}

std::size_t BlockSize(void* address)
{
    std::size_t size = 0;
    std::memcpy(&size, static_cast<unsigned char*>(address) - kBlockHeaderBytes, sizeof size);
    return size;
}

void Free(void* address, void* user)
{
    if (!address)
        return;
    static_cast<CMemory*>(user)->m_bytes -= kBlockHeaderBytes + BlockSize(address);
    std::free(static_cast<unsigned char*>(address) - kBlockHeaderBytes);
}

void* AllocateZeroed(std::size_t count, std::size_t size, void* user)
{
    if (size != 0 && count > static_cast<std::size_t>(-1) / size)
        return nullptr;
    void* block = Allocate(count * size, user);
    if (block)
        std::memset(block, 0, count * size);
    return block;
}

// A new block, then the old one's bytes and its release, so that the limit
// holds for both while they live side by side.
void* Reallocate(void* address, std::size_t size, void* user)
{
    if (!address)
        return Allocate(size, user);
    if (size == 0) {
        Free(address, user);
        return nullptr;
    }
    void* block = Allocate(size, user);
    if (!block)
        return nullptr;
    std::memcpy(block, address, std::min(size, BlockSize(address)));
    Free(address, user);
    return block;
}

} // namespace

struct CHpackDecoder::CAllocator
{
    nghttp2_mem m_functions;
};

CHpackDecoder::CHpackDecoder(std::size_t memoryLimit)
    : m_allocator(new CAllocator{{&m_memory, Allocate, Free, AllocateZeroed, Reallocate}})
{
    m_memory.m_limit = memoryLimit;
}

CHpackDecoder::~CHpackDecoder()
{
    Break();
}

std::unique_ptr<CHpackDecoder> CHpackDecoder::Create(std::size_t memoryLimit)
{
    std::unique_ptr<CHpackDecoder> decoder(new CHpackDecoder(memoryLimit));
    if (nghttp2_hd_inflate_new2(&decoder->m_inflater, &decoder->m_allocator->m_functions) != 0) {
        decoder->m_inflater = nullptr;
        return nullptr;
    }
    if (nghttp2_hd_inflate_change_table_size(decoder->m_inflater, kMaxTableBytes) != 0)
        return nullptr;
    return decoder;
}

bool CHpackDecoder::Decode(const std::uint8_t* block, std::size_t length, CFieldSink sink,
                           void* context)
{
    if (!m_inflater)
        return false;
    for (;;) {
        nghttp2_nv field;
        int flags = 0;
        // The whole block is given at once, so the last call ends it.
        ssize_t used = nghttp2_hd_inflate_hd2(m_inflater, &field, &flags, block, length, 1);
        if (used < 0) {
            Break();
            return false;
        }
        block += used;
        length -= static_cast<std::size_t>(used);
        if (flags & NGHTTP2_HD_INFLATE_EMIT) {
            sink(context,
                 std::string_view(reinterpret_cast<const char*>(field.name), field.namelen),
                 std::string_view(reinterpret_cast<const char*>(field.value), field.valuelen));
        }
        if (flags & NGHTTP2_HD_INFLATE_FINAL) {
            nghttp2_hd_inflate_end_headers(m_inflater);
            return true;
        }
        // Neither a field nor the end with input left over would loop for
        // ever; the library does not do that, but a block that does is
        // taken as broken.
        if (!(flags & NGHTTP2_HD_INFLATE_EMIT) && used == 0) {
            Break();
            return false;
        }
    }
}

void CHpackDecoder::Break()
{
    if (!m_inflater)
        return;
    nghttp2_hd_inflate_del(m_inflater);
    m_inflater = nullptr;
}

} // namespace zk
