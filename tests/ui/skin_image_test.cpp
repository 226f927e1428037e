#include "fetch/image.h"
#include "res/image_resource.h"
#include "res/resource_ids.h"
#include "ui/skin_image.h"

#include <gtest/gtest.h>

namespace zk {
namespace {

std::uint32_t Alpha(std::uint32_t argb)
{
    return argb >> 24;
}

TEST(SkinImages, EveryImageLoadsAtItsSize)
{
    struct
    {
        int id, width, height;
    } const sizes[] = {
        {IDB_TITLE_LOGO, 63, 12},     {IDB_CLOSE_SMALL, 16, 16},    {IDB_CLOSE_LARGE, 24, 24},
        {IDB_MINIMIZE_SMALL, 16, 16}, {IDB_MINIMIZE_LARGE, 24, 24}, {IDB_SCROLL_UP, 11, 7},
        {IDB_SCROLL_DOWN, 11, 7},     {IDB_DOTTED_SEPARATOR, 3, 1}, {IDB_FRAME_TEXTURE, 28, 14},
        {IDB_LINK_GAME_ROOM, 15, 14}, {IDB_BUTTON_DELETE, 68, 24},  {IDB_BUTTON_CLOSE, 68, 24},
        {IDB_LINK_LIFE, 15, 14},      {IDB_LINK_BLOG, 15, 14},      {IDB_LINK_MICROBLOG, 15, 14},
        {IDB_PROFILE_TITLE, 77, 12},
    };
    for (const auto& expected : sizes) {
        auto image = LoadSkinImage(expected.id);
        ASSERT_TRUE(image) << expected.id;
        EXPECT_EQ(image->GetWidth(), expected.width) << expected.id;
        EXPECT_EQ(image->GetHeight(), expected.height) << expected.id;
        EXPECT_EQ(image->GetPixelFormat(), CPixelFormat::Argb32) << expected.id;
    }
}

TEST(SkinImages, UnknownIdsGiveNothing)
{
    for (int id : {0, -1, 200, 208, 212, 226, 9000})
        EXPECT_FALSE(LoadSkinImage(id)) << id;
    EXPECT_FALSE(FindProgramIcon(20));
}

TEST(SkinImages, ProgramIconAtEverySize)
{
    for (int size : kProgramIconSizes) {
        auto icon = FindProgramIcon(size);
        ASSERT_TRUE(icon) << size;
        auto image = DecodeImage(icon->data, icon->size);
        ASSERT_TRUE(image) << size;
        EXPECT_EQ(image->GetWidth(), size);
        EXPECT_EQ(image->GetHeight(), size);
        EXPECT_EQ(Alpha(image->GetPixel(0, 0)), 0u) << "the icon is round";
    }
}

TEST(SkinImages, DottedSeparatorIsWhiteGreyWhite)
{
    auto image = LoadSkinImage(IDB_DOTTED_SEPARATOR);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetPixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(image->GetPixel(1, 0), 0xFF9E9E9Eu);
    EXPECT_EQ(image->GetPixel(2, 0), 0xFFFFFFFFu);
}

// The stripes run diagonally, so every pixel repeats one step right and one
// up; taken around both edges, this also says the tile continues seamlessly.
TEST(SkinImages, FrameTextureTilesWithoutSeam)
{
    auto image = LoadSkinImage(IDB_FRAME_TEXTURE);
    ASSERT_TRUE(image);
    const int w = image->GetWidth();
    const int h = image->GetHeight();
    bool striped = false;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint32_t pixel = image->GetPixel(x, y);
            EXPECT_EQ(Alpha(pixel), 255u);
            EXPECT_EQ(pixel, image->GetPixel((x + 1) % w, (y + h - 1) % h)) << x << "," << y;
            striped = striped || pixel != image->GetPixel((x + 1) % w, y);
        }
    }
    EXPECT_TRUE(striped);
}

TEST(SkinImages, RoundButtonsHaveClearCornersAndOpaqueCentres)
{
    for (int id : {IDB_CLOSE_SMALL, IDB_CLOSE_LARGE, IDB_MINIMIZE_SMALL, IDB_MINIMIZE_LARGE}) {
        auto image = LoadSkinImage(id);
        ASSERT_TRUE(image) << id;
        const int last = image->GetWidth() - 1;
        for (auto [x, y] : {std::pair{0, 0}, {last, 0}, {0, last}, {last, last}})
            EXPECT_EQ(Alpha(image->GetPixel(x, y)), 0u) << id << " corner " << x << "," << y;
        EXPECT_EQ(image->GetPixel(last / 2, last / 2), 0xFFFFFFFFu) << id << ": white symbol";
        // Below the symbol the disc shows its colour: red to close, violet to minimise.
        std::uint32_t disc = image->GetPixel(last / 2, last - 3);
        int red = (disc >> 16) & 0xFF, green = (disc >> 8) & 0xFF, blue = disc & 0xFF;
        EXPECT_EQ(Alpha(disc), 255u) << id;
        EXPECT_GT(red, green + 30) << id;
        if (id == IDB_CLOSE_SMALL || id == IDB_CLOSE_LARGE)
            EXPECT_GT(red, blue + 60) << id;
        else
            EXPECT_GT(blue, red + 30) << id;
    }
}

} // namespace
} // namespace zk
