#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zk {

// The outcome of decoding an image file held in memory.
enum class CDecodeStatus
{
    Ok,
    NotAnImage, // not PNG, JPEG, GIF or BMP, or damaged
    OutOfMemory,
    TooLarge, // its header names more pixels than an image may have
};

// The most pixels an image may have: 2048 × 2048, sixteen times the area of
// the largest avatar the portal serves. Its decoded pixels take 16 MiB, and
// decoding holds them twice at most; the size is read from the file's header
// and a larger image is refused before anything is decoded (Qt decodes a PNG
// whole, and only a JPEG can be scaled while it decodes).
constexpr std::int64_t kMaxImagePixels = 2048 * 2048;

// Decodes PNG (with its alpha), JPEG, GIF (the first frame) or BMP data into
// 32-bit pixels 0xAARRGGBB, alpha not premultiplied, top row first, with no
// padding between rows. An image beyond kMaxImagePixels is TooLarge.
CDecodeStatus DecodeImageArgb(const std::uint8_t* data, std::size_t length, int& width, int& height,
                              std::vector<std::uint32_t>& pixels);

} // namespace zk
