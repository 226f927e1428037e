#pragma once

#include <cstdint>
#include <filesystem>

namespace zk::test {

// Checks that the PNG file holds a 38 x 38 round thumbnail: fully
// transparent corners and the given colour in the centre.
void ExpectRoundThumbnail(const std::filesystem::path& png, std::uint32_t centre);

} // namespace zk::test
