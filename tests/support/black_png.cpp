#include "support/black_png.h"

#include <vector>
#include <zlib.h>

namespace zk::test {
namespace {

void AppendBigEndian(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>(value >> shift & 0xFF);
}

void AppendChunk(std::string& out, const char* type, const std::string& data)
{
    AppendBigEndian(out, static_cast<std::uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    AppendBigEndian(out,
                    static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                     static_cast<uInt>(body.size()))));
}

} // namespace

std::string BlackPng(std::uint32_t width, std::uint32_t height)
{
    std::string header;
    AppendBigEndian(header, width);
    AppendBigEndian(header, height);
    header += std::string("\x01\x00\x00\x00\x00", 5); // 1 bit, greyscale
    std::string rows(static_cast<std::size_t>((width + 7) / 8 + 1) * height, '\0');
    std::vector<Bytef> packed(compressBound(static_cast<uLong>(rows.size())));
    uLongf packedLength = static_cast<uLongf>(packed.size());
    if (compress2(packed.data(), &packedLength, reinterpret_cast<const Bytef*>(rows.data()),
                  static_cast<uLong>(rows.size()), Z_BEST_COMPRESSION) != Z_OK)
        return {};
    std::string png = "\x89PNG\r\n\x1a\n";
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT",
                std::string(reinterpret_cast<const char*>(packed.data()), packedLength));
    AppendChunk(png, "IEND", "");
    return png;
}

} // namespace zk::test
