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
};

// Decodes PNG (with its alpha), JPEG, GIF (the first frame) or BMP data into
// 32-bit pixels 0xAARRGGBB, alpha not premultiplied, top row first, with no
// padding between rows.
CDecodeStatus DecodeImageArgb(const std::uint8_t* data, std::size_t length, int& width, int& height,
                              std::vector<std::uint32_t>& pixels);

} // namespace zk
