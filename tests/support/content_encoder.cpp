#include "support/content_encoder.h"

#include <brotli/encode.h>
#include <stdexcept>
#include <zlib.h>
#include <zstd.h>

namespace zk::test {
namespace {

std::string Deflate(const std::string& data, int windowBits)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        throw std::runtime_error("deflate");
    return out;
}

} // namespace

std::string Encode(CTestCoding coding, const std::string& data)
{
    switch (coding) {
    case CTestCoding::Gzip:
        return Deflate(data, 16 + 15);
    case CTestCoding::Zlib:
        return Deflate(data, 15);
    case CTestCoding::RawDeflate:
        return Deflate(data, -15);
    case CTestCoding::Brotli: {
        std::string out(BrotliEncoderMaxCompressedSize(data.size()) + 64, '\0');
        std::size_t size = out.size();
        if (!BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW,
                                   BROTLI_DEFAULT_MODE, data.size(),
                                   reinterpret_cast<const std::uint8_t*>(data.data()), &size,
                                   reinterpret_cast<std::uint8_t*>(out.data())))
            throw std::runtime_error("BrotliEncoderCompress");
        out.resize(size);
        return out;
    }
    case CTestCoding::Zstd: {
        std::string out(ZSTD_compressBound(data.size()), '\0');
        std::size_t size = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 19);
        if (ZSTD_isError(size))
            throw std::runtime_error("ZSTD_compress");
        out.resize(size);
        return out;
    }
    }
    return data;
}

std::string EncodeZstdWithWindow(const std::string& data, int windowLog, int level)
{
    // Without the content size in advance the frame names its window.
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
    std::string out(ZSTD_compressBound(data.size()) + 1024, '\0');
    ZSTD_inBuffer in{data.data(), data.size(), 0};
    ZSTD_outBuffer buffer{out.data(), out.size(), 0};
    std::size_t left = ZSTD_compressStream2(context, &buffer, &in, ZSTD_e_continue);
    ZSTD_inBuffer none{nullptr, 0, 0};
    while (!ZSTD_isError(left) &&
           (left = ZSTD_compressStream2(context, &buffer, &none, ZSTD_e_end)) > 0 &&
           !ZSTD_isError(left)) {
    }
    ZSTD_freeCCtx(context);
    if (ZSTD_isError(left))
        throw std::runtime_error("ZSTD_compressStream2");
    out.resize(buffer.pos);
    return out;
}

std::string EncodeBrotliLargeWindow(const std::string& data)
{
    BrotliEncoderState* state = BrotliEncoderCreateInstance(nullptr, nullptr, nullptr);
    BrotliEncoderSetParameter(state, BROTLI_PARAM_LARGE_WINDOW, 1);
    BrotliEncoderSetParameter(state, BROTLI_PARAM_LGWIN, 26);
    std::string out(BrotliEncoderMaxCompressedSize(data.size()) + 64, '\0');
    std::size_t inLeft = data.size();
    auto* next = reinterpret_cast<const std::uint8_t*>(data.data());
    std::size_t outLeft = out.size();
    auto* to = reinterpret_cast<std::uint8_t*>(out.data());
    bool ok = BrotliEncoderCompressStream(state, BROTLI_OPERATION_FINISH, &inLeft, &next, &outLeft,
                                          &to, nullptr) &&
              BrotliEncoderIsFinished(state);
    BrotliEncoderDestroyInstance(state);
    if (!ok)
        throw std::runtime_error("BrotliEncoderCompressStream");
    out.resize(out.size() - outLeft);
    return out;
}

const char* CodingName(CTestCoding coding)
{
    switch (coding) {
    case CTestCoding::Gzip:
        return "gzip";
    case CTestCoding::Zlib:
    case CTestCoding::RawDeflate:
        return "deflate";
    case CTestCoding::Brotli:
        return "br";
    case CTestCoding::Zstd:
        return "zstd";
    }
    return "";
}

} // namespace zk::test
