#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace zk {

// The bytes of a PNG file carried inside the program; they live as long as
// the program does.
struct CImageResource
{
    const std::uint8_t* data;
    std::size_t size;
};

// The sizes in pixels at which the program icon is drawn.
inline constexpr int kProgramIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The skin image with this id (an IDB_ constant of res/resource_ids.h), or
// nothing when the program carries no such image.
std::optional<CImageResource> FindImageResource(int id);

// The program icon drawn at size x size pixels, or nothing for any size not
// in kProgramIconSizes.
std::optional<CImageResource> FindProgramIcon(int size);

} // namespace zk
