#pragma once

#include <chrono>
#include <cstdint>

namespace zk {

// Milliseconds of a steady clock in 32 bits; differences of two readings
// stay right across the wrap-around, as the system's tick count does.
inline std::uint32_t TickCountMs()
{
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

} // namespace zk
