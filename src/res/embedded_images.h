#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zk {

// One PNG file the build placed into the program: a skin image under its id,
// or the program icon under its size in pixels.
struct CEmbeddedImage
{
    int key;
    const std::uint8_t* data;
    std::size_t size;
};

// Both tables are sorted by key; the build generates them from the PNG files
// of src/res/images and src/res/icons.
std::span<const CEmbeddedImage> EmbeddedImages();
std::span<const CEmbeddedImage> EmbeddedIcons();

} // namespace zk
