#pragma once

#include <cstdint>
#include <string>

namespace zk::test {

// A black-and-white PNG (one bit a pixel, all black): a few kilobytes on
// disk whatever its size, as a hostile avatar would be. Empty on failure.
std::string BlackPng(std::uint32_t width, std::uint32_t height);

} // namespace zk::test
