#pragma once

#include <cstdint>

namespace zk {

// A screen rectangle in four signed 32-bit coordinates; right and bottom lie
// just outside it.
struct RECT
{
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    std::int64_t Width() const { return std::int64_t(right) - left; }
    std::int64_t Height() const { return std::int64_t(bottom) - top; }
    // Zero or negative width or height.
    bool IsEmpty() const { return Width() <= 0 || Height() <= 0; }

    bool operator==(const RECT&) const = default;
};

} // namespace zk
