#pragma once

#include <cstdint>

namespace zk {

// The device-independent bitmap headers in their stored layout: a 40-byte
// header or a 124-byte version-5 header, then the colour table. Other
// programs and the clipboard read these bytes, so the layout is fixed. The
// structures are plain data: value-initialise them (`{}`) to zero them.
#pragma pack(push, 4)

struct RGBQUAD
{
    std::uint8_t rgbBlue;
    std::uint8_t rgbGreen;
    std::uint8_t rgbRed;
    std::uint8_t rgbReserved;
};

struct BITMAPINFOHEADER
{
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};

struct CIEXYZ
{
    std::int32_t ciexyzX;
    std::int32_t ciexyzY;
    std::int32_t ciexyzZ;
};

struct CIEXYZTRIPLE
{
    CIEXYZ ciexyzRed;
    CIEXYZ ciexyzGreen;
    CIEXYZ ciexyzBlue;
};

struct BITMAPV5HEADER
{
    std::uint32_t bV5Size;
    std::int32_t bV5Width;
    std::int32_t bV5Height;
    std::uint16_t bV5Planes;
    std::uint16_t bV5BitCount;
    std::uint32_t bV5Compression;
    std::uint32_t bV5SizeImage;
    std::int32_t bV5XPelsPerMeter;
    std::int32_t bV5YPelsPerMeter;
    std::uint32_t bV5ClrUsed;
    std::uint32_t bV5ClrImportant;
    std::uint32_t bV5RedMask;
    std::uint32_t bV5GreenMask;
    std::uint32_t bV5BlueMask;
    std::uint32_t bV5AlphaMask;
    std::uint32_t bV5CSType;
    CIEXYZTRIPLE bV5Endpoints;
    std::uint32_t bV5GammaRed;
    std::uint32_t bV5GammaGreen;
    std::uint32_t bV5GammaBlue;
    std::uint32_t bV5Intent;
    std::uint32_t bV5ProfileData;
    std::uint32_t bV5ProfileSize;
    std::uint32_t bV5Reserved;
};

// A header followed by its colour table (of any length).
struct BITMAPINFO
{
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

#pragma pack(pop)

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(BITMAPV5HEADER) == 124);

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_BITFIELDS = 3;

// Colour-space tags of the version-5 header, four characters read as one
// big-endian number.
constexpr std::uint32_t LCS_sRGB = 0x73524742;         // 'sRGB'
constexpr std::uint32_t PROFILE_EMBEDDED = 0x4D424544; // 'MBED'
constexpr std::uint32_t LCS_GM_IMAGES = 4;

} // namespace zk
