#include "platform/content_decoder.h"

#include <algorithm>
#include <brotli/decode.h>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <zlib.h>
// The custom allocator of a zstd decoder is part of the library's advanced
// interface, which Debian's shared library exports; it lets every byte a
// hostile frame makes the decoder allocate be counted and refused.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

namespace zk {
namespace {

// Each block carries its size in front, so that the count can go down when
// the library frees a block by its address alone.
constexpr std::size_t kBlockHeaderBytes = alignof(std::max_align_t);

// The largest window a zstd sender may use for HTTP content (RFC 9659,
// section 3: 8 MiB); a frame asking for more is refused even when the
// memory limit would allow it.
constexpr int kMaxZstdWindowLog = 23;
// A zstd decoder holds its window plus about two blocks of 128 KiB and its
// tables beside it.
constexpr std::size_t kZstdOverheadBytes = 512 * 1024;
constexpr int kMinZstdWindowLog = 10;

// zlib's largest window (RFC 1950, section 2.2): 32 KiB.
constexpr int kDeflateWindowBits = 15;
// Added to the window bits, inflate reads only the gzip format (zlib.h).
constexpr int kGzipWindowBitsFlag = 16;

void* ZlibAllocate(void* memory, uInt items, uInt size)
{
    // zlib checks that items * size fits; an overflow here would have failed
    // there first.
    void* block =
        static_cast<CContentDecoder::CMemory*>(memory)->Allocate(std::size_t(items) * size);
    return block ? block : Z_NULL;
}

void ZlibFree(void* memory, void* block)
{
    static_cast<CContentDecoder::CMemory*>(memory)->Free(block);
}

void* LibraryAllocate(void* memory, std::size_t size)
{
    return static_cast<CContentDecoder::CMemory*>(memory)->Allocate(size);
}

void LibraryFree(void* memory, void* block)
{
    static_cast<CContentDecoder::CMemory*>(memory)->Free(block);
}

// A deflate stream: gzip always, the zlib format or raw data under deflate.
// Under deflate the first two bytes decide: a zlib header names method 8 with
// a window of at most 32 KiB and is a multiple of 31 (RFC 1950, section 2.2);
// raw deflate data almost never looks like one.
class CInflateDecoder : public CContentDecoder
{
public:
    CInflateDecoder(bool gzip, CMemory& memory) : CContentDecoder(memory), m_gzip(gzip)
    {
        m_stream.zalloc = ZlibAllocate;
        m_stream.zfree = ZlibFree;
        m_stream.opaque = &m_memory;
    }

    ~CInflateDecoder() override
    {
        if (m_started)
            inflateEnd(&m_stream);
    }

    bool Start()
    {
        if (!m_gzip)
            return true; // waits for the first two bytes
        return Init(kGzipWindowBitsFlag + kDeflateWindowBits);
    }

    EContentDecode Decode(const std::uint8_t*& input, std::size_t& inputLength,
                          std::uint8_t*& output, std::size_t& outputLength) override
    {
        if (!m_started) {
            while (m_headLength < sizeof m_head && inputLength > 0) {
                m_head[m_headLength++] = *input++;
                --inputLength;
            }
            if (m_headLength < sizeof m_head)
                return EContentDecode::More;
            bool zlibFormat = (m_head[0] & 0x0F) == Z_DEFLATED && (m_head[0] >> 4) <= 7 &&
                              (m_head[0] * 256 + m_head[1]) % 31 == 0;
            if (!Init(zlibFormat ? kDeflateWindowBits : -kDeflateWindowBits))
                return EContentDecode::Error;
        }
        // The two bytes taken to tell the formats apart go in first.
        while (m_headUsed < m_headLength) {
            const std::uint8_t* head = m_head + m_headUsed;
            std::size_t headLength = m_headLength - m_headUsed;
            EContentDecode result = Inflate(head, headLength, output, outputLength);
            m_headUsed = m_headLength - headLength;
            if (result != EContentDecode::More || m_headUsed < m_headLength)
                return result;
        }
        return Inflate(input, inputLength, output, outputLength);
    }

private:
    bool Init(int windowBits)
    {
        if (inflateInit2(&m_stream, windowBits) != Z_OK)
            return false;
        m_started = true;
        return true;
    }

    EContentDecode Inflate(const std::uint8_t*& input, std::size_t& inputLength,
                           std::uint8_t*& output, std::size_t& outputLength)
    {
        // zlib counts in 32 bits: the pieces here are far smaller.
        m_stream.next_in = const_cast<Bytef*>(input);
        m_stream.avail_in = static_cast<uInt>(inputLength);
        m_stream.next_out = output;
        m_stream.avail_out = static_cast<uInt>(outputLength);
        int status = inflate(&m_stream, Z_NO_FLUSH);
        input = m_stream.next_in;
        inputLength = m_stream.avail_in;
        output = m_stream.next_out;
        outputLength = m_stream.avail_out;
        switch (status) {
        case Z_STREAM_END:
            return EContentDecode::End;
        case Z_OK:
        case Z_BUF_ERROR: // no progress possible: input used up or output full
            return EContentDecode::More;
        case Z_MEM_ERROR:
            return EContentDecode::Capped;
        default: // Z_DATA_ERROR, Z_NEED_DICT
            return EContentDecode::Error;
        }
    }

    bool m_gzip;
    bool m_started = false;
    z_stream m_stream{};
    std::uint8_t m_head[2] = {};
    std::size_t m_headLength = 0;
    std::size_t m_headUsed = 0;
};

// Brotli's decoder takes the window the stream names, up to 16 MiB, and sizes
// its ring buffer to the output it expects; large windows (the non-standard
// extension beyond 16 MiB) stay off. The memory limit refuses whatever goes
// beyond it.
class CBrotliDecoder : public CContentDecoder
{
public:
    explicit CBrotliDecoder(CMemory& memory) : CContentDecoder(memory) {}

    ~CBrotliDecoder() override
    {
        if (m_state)
            BrotliDecoderDestroyInstance(m_state);
    }

    bool Start()
    {
        m_state = BrotliDecoderCreateInstance(LibraryAllocate, LibraryFree, &m_memory);
        return m_state != nullptr;
    }

    EContentDecode Decode(const std::uint8_t*& input, std::size_t& inputLength,
                          std::uint8_t*& output, std::size_t& outputLength) override
    {
        BrotliDecoderResult result = BrotliDecoderDecompressStream(m_state, &inputLength, &input,
                                                                   &outputLength, &output, nullptr);
        switch (result) {
        case BROTLI_DECODER_RESULT_SUCCESS:
            return EContentDecode::End;
        case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
        case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT:
            return EContentDecode::More;
        default:
            break;
        }
        // The allocation failures are the last codes of the library's list.
        BrotliDecoderErrorCode error = BrotliDecoderGetErrorCode(m_state);
        if (error <= BROTLI_DECODER_ERROR_ALLOC_CONTEXT_MODES &&
            error >= BROTLI_DECODER_ERROR_ALLOC_BLOCK_TYPE_TREES)
            return EContentDecode::Capped;
        return EContentDecode::Error;
    }

private:
    BrotliDecoderState* m_state = nullptr;
};

class CZstdDecoder : public CContentDecoder
{
public:
    explicit CZstdDecoder(CMemory& memory) : CContentDecoder(memory) {}

    ~CZstdDecoder() override
    {
        m_memory.Free(m_block);
        if (m_context)
            ZSTD_freeDCtx(m_context);
    }

    bool Start()
    {
        m_context =
            ZSTD_createDCtx_advanced(ZSTD_customMem{LibraryAllocate, LibraryFree, &m_memory});
        if (!m_context)
            return false;
        // The window is the bulk of a decoder's memory; a frame naming a
        // larger one fails at its header, before anything is allocated.
        int windowLog = kMaxZstdWindowLog;
        while (windowLog > kMinZstdWindowLog && (std::size_t(1) << windowLog) + kZstdOverheadBytes >
                                                    m_memory.Limit() - m_memory.Bytes())
            --windowLog;
        return !ZSTD_isError(ZSTD_DCtx_setParameter(m_context, ZSTD_d_windowLogMax, windowLog));
    }

    EContentDecode Decode(const std::uint8_t*& input, std::size_t& inputLength,
                          std::uint8_t*& output, std::size_t& outputLength) override
    {
        if (m_stable)
            return DecodeStable(input, inputLength, output, outputLength);
        ZSTD_inBuffer in{input, inputLength, 0};
        ZSTD_outBuffer out{output, outputLength, 0};
        std::size_t result = ZSTD_decompressStream(m_context, &out, &in);
        input += in.pos;
        inputLength -= in.pos;
        output += out.pos;
        outputLength -= out.pos;
        if (ZSTD_isError(result)) {
            return ZSTD_getErrorCode(result) == ZSTD_error_memory_allocation
                       ? EContentDecode::Capped
                       : EContentDecode::Error;
        }
        // Zero ends a frame; a second frame after it is not read.
        return result == 0 ? EContentDecode::End : EContentDecode::More;
    }

    // The window is the output buffer itself, so the frame's window costs
    // nothing beyond it: the decoder keeps only one block of input (when a
    // block arrives in pieces) and its tables. The streaming interface would
    // want room for a whole frame whose size the frame names, so blocks are
    // decoded one by one, each straight after the last one's output.
    bool UseStableOutput(std::uint8_t* buffer, std::size_t capacity) override
    {
        if (m_begun || ZSTD_isError(ZSTD_decompressBegin(m_context)))
            return false;
        m_stable = buffer;
        m_stableEnd = buffer + capacity;
        m_next = buffer;
        return true;
    }

private:
    EContentDecode DecodeStable(const std::uint8_t*& input, std::size_t& inputLength,
                                std::uint8_t*& output, std::size_t& outputLength)
    {
        if (output != m_next || output + outputLength != m_stableEnd)
            return EContentDecode::Error;
        m_begun = true;
        for (;;) {
            std::size_t need = ZSTD_nextSrcSizeToDecompress(m_context);
            if (need == 0)
                return EContentDecode::End;
            ZSTD_nextInputType_e type = ZSTD_nextInputType(m_context);
            // A skippable first frame holds no content; what follows the
            // first frame is not read.
            if (type == ZSTDnit_skippableFrame)
                return EContentDecode::End;
            // A block decodes whole, to up to 128 KiB: with less room the
            // output is full, and the caller has what it wanted.
            if ((type == ZSTDnit_block || type == ZSTDnit_lastBlock) &&
                outputLength < ZSTD_BLOCKSIZE_MAX)
                return EContentDecode::More;
            const std::uint8_t* source = nullptr;
            if (m_blockFilled == 0 && inputLength >= need) {
                source = input;
                input += need;
                inputLength -= need;
            } else {
                if (need > m_blockCapacity) {
                    // Blocks hold at most 128 KiB (RFC 8878, section
                    // 3.1.1.2.4); the frame header and block headers less.
                    if (need > ZSTD_BLOCKSIZE_MAX)
                        return EContentDecode::Error;
                    auto* block = static_cast<std::uint8_t*>(m_memory.Allocate(ZSTD_BLOCKSIZE_MAX));
                    if (!block)
                        return EContentDecode::Capped;
                    if (m_blockFilled > 0)
                        std::memcpy(block, m_block, m_blockFilled);
                    m_memory.Free(m_block);
                    m_block = block;
                    m_blockCapacity = ZSTD_BLOCKSIZE_MAX;
                }
                std::size_t take = std::min(need - m_blockFilled, inputLength);
                std::memcpy(m_block + m_blockFilled, input, take);
                m_blockFilled += take;
                input += take;
                inputLength -= take;
                if (m_blockFilled < need)
                    return EContentDecode::More;
                source = m_block;
                m_blockFilled = 0;
            }
            if (type == ZSTDnit_frameHeader && !CheckHeader(source, need))
                return EContentDecode::Error;
            std::size_t produced =
                ZSTD_decompressContinue(m_context, output, outputLength, source, need);
            if (ZSTD_isError(produced)) {
                return ZSTD_getErrorCode(produced) == ZSTD_error_memory_allocation
                           ? EContentDecode::Capped
                           : EContentDecode::Error;
            }
            output += produced;
            outputLength -= produced;
            m_next = output;
            // The caller decides once it has its bytes; a block's room stays.
            if (produced > 0)
                return ZSTD_nextSrcSizeToDecompress(m_context) == 0 ? EContentDecode::End
                                                                    : EContentDecode::More;
        }
    }

    // The frame header arrives in two parts; once whole, its window must be
    // one HTTP allows.
    bool CheckHeader(const std::uint8_t* part, std::size_t length)
    {
        if (m_headerLength + length > sizeof m_header)
            return false;
        std::memcpy(m_header + m_headerLength, part, length);
        m_headerLength += length;
        ZSTD_frameHeader header{};
        std::size_t result = ZSTD_getFrameHeader(&header, m_header, m_headerLength);
        if (ZSTD_isError(result))
            return false;
        return result > 0 || header.windowSize <= (std::uint64_t(1) << kMaxZstdWindowLog);
    }

    ZSTD_DCtx* m_context = nullptr;
    std::uint8_t* m_stable = nullptr;
    std::uint8_t* m_stableEnd = nullptr;
    std::uint8_t* m_next = nullptr;
    bool m_begun = false;
    // One block gathered from pieces, in counted memory.
    std::uint8_t* m_block = nullptr;
    std::size_t m_blockCapacity = 0;
    std::size_t m_blockFilled = 0;
    std::uint8_t m_header[ZSTD_FRAMEHEADERSIZE_MAX] = {};
    std::size_t m_headerLength = 0;
};

template <class D, class... A> std::unique_ptr<CContentDecoder> Started(A&&... args)
{
    auto decoder = std::make_unique<D>(std::forward<A>(args)...);
    if (!decoder->Start())
        return nullptr;
    return decoder;
}

} // namespace

void* CContentDecoder::CMemory::Allocate(std::size_t size)
{
    if (size > m_limit - m_bytes || kBlockHeaderBytes > m_limit - m_bytes - size)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(kBlockHeaderBytes + size));
    if (!block)
        return nullptr;
    std::memcpy(block, &size, sizeof size);
    m_bytes += kBlockHeaderBytes + size;
    return block + kBlockHeaderBytes;
}

void CContentDecoder::CMemory::Free(void* address)
{
    if (!address)
        return;
    auto* block = static_cast<unsigned char*>(address) - kBlockHeaderBytes;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    m_bytes -= kBlockHeaderBytes + size;
    std::free(block);
}

std::unique_ptr<CContentDecoder> CContentDecoder::Create(EContentCoding coding, CMemory& memory)
{
    switch (coding) {
    case EContentCoding::Gzip:
        return Started<CInflateDecoder>(true, memory);
    case EContentCoding::Deflate:
        return Started<CInflateDecoder>(false, memory);
    case EContentCoding::Brotli:
        return Started<CBrotliDecoder>(memory);
    case EContentCoding::Zstd:
        return Started<CZstdDecoder>(memory);
    case EContentCoding::Count:
        break;
    }
    return nullptr;
}

} // namespace zk
