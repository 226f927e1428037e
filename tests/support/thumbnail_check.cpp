#include "support/thumbnail_check.h"

#include "fetch/drawing_surface.h"
#include "fetch/image.h"
#include "platform/file_ops.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace zk::test {

void ExpectRoundThumbnail(const std::filesystem::path& png, std::uint32_t centre)
{
    std::string bytes;
    ASSERT_EQ(ReadWholeFile(png.wstring(), bytes), S_OK) << png;
    std::shared_ptr<CImage> thumb =
        DecodeImage(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ASSERT_TRUE(thumb) << png;
    EXPECT_EQ(thumb->GetWidth(), 38);
    EXPECT_EQ(thumb->GetHeight(), 38);
    for (auto [x, y] : {std::pair{0, 0}, {37, 0}, {0, 37}, {37, 37}})
        EXPECT_EQ(thumb->GetPixel(x, y) >> 24, 0u) << x << "," << y;
    EXPECT_EQ(thumb->GetPixel(19, 19), centre);
}

} // namespace zk::test
