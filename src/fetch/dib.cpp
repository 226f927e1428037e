#include "fetch/dib.h"

#include "fetch/image.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace zk {

namespace {

constexpr std::uint32_t kInfoHeaderSize = sizeof(BITMAPINFOHEADER);
constexpr std::uint32_t kV5HeaderSize = sizeof(BITMAPV5HEADER);
constexpr int kGreyPaletteSize = 256;
constexpr int kMaxBitCount = 32;

// The colour count of a header about to be written: the same rule as for a
// stored one, from the values it will hold.
int ColorCountFor(int bitCount, int colorCount, std::uint32_t compression)
{
    BITMAPINFOHEADER header{};
    header.biBitCount = static_cast<std::uint16_t>(bitCount);
    header.biClrUsed = static_cast<std::uint32_t>(colorCount);
    header.biCompression = compression;
    return CDib::ColorCountOf(header);
}

bool IsValidShape(int width, int height, int bitCount, int colorCount)
{
    if (width < 0 || bitCount <= 0 || bitCount > kMaxBitCount || colorCount < 0)
        return false;
    if (height == INT32_MIN)
        return false;
    BITMAPINFOHEADER header{};
    header.biWidth = width;
    header.biHeight = height;
    header.biBitCount = static_cast<std::uint16_t>(bitCount);
    return CDib::ImageSizeOf(header) <= CDib::kMaxImageSize &&
           colorCount <= (1 << 16); // a colour table is never longer
}

void FillHeader(BITMAPINFOHEADER& header, std::uint32_t size, int width, int height, int bitCount,
                int colorCount, std::uint32_t compression)
{
    header.biSize = size;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<std::uint16_t>(bitCount);
    header.biCompression = compression;
    header.biClrUsed = static_cast<std::uint32_t>(colorCount);
    header.biClrImportant = static_cast<std::uint32_t>(colorCount);
}

} // namespace

CDib::~CDib()
{
    // The destructor of a base class cannot reach an override, so each class
    // frees what it allocated in its own destructor.
    CDib::FreeBits();
    CDib::FreeHeader();
}

std::size_t CDib::StrideOf(int width, int bitCount)
{
    std::size_t bits = static_cast<std::size_t>(width < 0 ? 0 : width) *
                       static_cast<std::size_t>(bitCount < 0 ? 0 : bitCount);
    std::size_t bytes = (bits + 7) / 8;
    return (bytes + 3) & ~std::size_t{3};
}

std::size_t CDib::ImageSizeOf(const BITMAPINFOHEADER& header)
{
    if (header.biCompression != BI_RGB)
        return header.biSizeImage;
    std::size_t rows = static_cast<std::size_t>(std::llabs(header.biHeight));
    return StrideOf(header.biWidth, header.biBitCount) * rows;
}

int CDib::ColorCountOf(const BITMAPINFOHEADER& header)
{
    if (header.biCompression == BI_BITFIELDS)
        return 3;
    if (header.biBitCount > 8)
        return 0;
    if (header.biClrUsed != 0)
        return static_cast<int>(header.biClrUsed);
    return 1 << header.biBitCount;
}

bool CDib::AllocHeader(std::size_t size)
{
    FreeHeader();
    void* block = std::calloc(1, size);
    if (!block)
        return false;
    m_header = static_cast<BITMAPINFO*>(block);
    m_headerSize = size;
    return true;
}

bool CDib::Create(int width, int height, int bitCount, int colorCount, std::uint32_t compression)
{
    FreeHeader();
    if (!IsValidShape(width, height, bitCount, colorCount))
        return false;
    int colors = ColorCountFor(bitCount, colorCount, compression);
    if (!AllocHeader(kInfoHeaderSize + static_cast<std::size_t>(colors) * sizeof(RGBQUAD)))
        return false;
    FillHeader(m_header->bmiHeader, kInfoHeaderSize, width, height, bitCount, colorCount,
               compression);
    if (bitCount == 8 && colors == kGreyPaletteSize) {
        for (int i = 0; i < kGreyPaletteSize; ++i) {
            RGBQUAD& entry = m_header->bmiColors[i];
            entry.rgbBlue = entry.rgbGreen = entry.rgbRed = static_cast<std::uint8_t>(i);
            entry.rgbReserved = 255;
        }
    }
    return true;
}

bool CDib::CreateV5(int width, int height, int bitCount, int colorCount, std::uint32_t compression,
                    std::uint32_t profileSize)
{
    FreeHeader();
    if (!IsValidShape(width, height, bitCount, colorCount) || profileSize > kMaxImageSize)
        return false;
    int colors = ColorCountFor(bitCount, colorCount, compression);
    std::size_t tableEnd = kV5HeaderSize + static_cast<std::size_t>(colors) * sizeof(RGBQUAD);
    if (!AllocHeader(tableEnd + profileSize))
        return false;
    // A version 5 header starts with the fields of the 40-byte one.
    FillHeader(m_header->bmiHeader, kV5HeaderSize, width, height, bitCount, colorCount,
               compression);
    BITMAPV5HEADER header;
    std::memcpy(&header, m_header, sizeof(header));
    if (profileSize == 0) {
        header.bV5CSType = LCS_sRGB;
    } else {
        header.bV5CSType = PROFILE_EMBEDDED;
        // The profile offset counts from the start of the header.
        header.bV5ProfileData = static_cast<std::uint32_t>(tableEnd);
        header.bV5ProfileSize = profileSize;
        header.bV5Intent = LCS_GM_IMAGES;
    }
    if (compression == BI_BITFIELDS)
        header.bV5SizeImage = static_cast<std::uint32_t>(
            StrideOf(width, bitCount) * static_cast<std::size_t>(std::llabs(height)));
    std::memcpy(m_header, &header, sizeof(header));
    return true;
}

bool CDib::CreateFromHeader(const BITMAPINFO* info)
{
    FreeHeader();
    if (!info)
        return false;
    const BITMAPINFOHEADER& source = info->bmiHeader;
    if (source.biSize < kInfoHeaderSize ||
        !IsValidShape(source.biWidth, source.biHeight, source.biBitCount, 0))
        return false;
    std::size_t size =
        source.biSize + static_cast<std::size_t>(ColorCountOf(source)) * sizeof(RGBQUAD);
    if (source.biSize >= kV5HeaderSize) {
        // An embedded profile travels with its header.
        BITMAPV5HEADER v5{};
        std::memcpy(&v5, info, sizeof(v5));
        if (v5.bV5CSType == PROFILE_EMBEDDED && v5.bV5ProfileData >= size &&
            v5.bV5ProfileSize <= kMaxImageSize)
            size = std::size_t{v5.bV5ProfileData} + v5.bV5ProfileSize;
    }
    if (!AllocHeader(size))
        return false;
    std::memcpy(m_header, info, size);
    return true;
}

void CDib::FreeHeader()
{
    std::free(m_header);
    m_header = nullptr;
    m_headerSize = 0;
}

bool CDib::AllocBits()
{
    FreeBits();
    if (!m_header)
        return false;
    std::size_t size = GetImageSize();
    if (size > kMaxImageSize)
        return false;
    // A bitmap without pixels still gets a buffer, so that its bits are
    // never mistaken for a failed allocation.
    m_bits = static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
    return m_bits != nullptr;
}

void CDib::FreeBits()
{
    std::free(m_bits);
    m_bits = nullptr;
}

const BITMAPINFOHEADER* CDib::GetHeader() const
{
    return m_header ? &m_header->bmiHeader : nullptr;
}

int CDib::GetWidth() const
{
    return m_header ? m_header->bmiHeader.biWidth : 0;
}

int CDib::GetHeight() const
{
    return m_header ? static_cast<int>(std::llabs(m_header->bmiHeader.biHeight)) : 0;
}

int CDib::GetBitCount() const
{
    return m_header ? m_header->bmiHeader.biBitCount : 0;
}

std::uint32_t CDib::GetCompression() const
{
    return m_header ? m_header->bmiHeader.biCompression : BI_RGB;
}

std::size_t CDib::GetStride() const
{
    return m_header ? StrideOf(GetWidth(), GetBitCount()) : 0;
}

std::size_t CDib::GetImageSize() const
{
    return m_header ? ImageSizeOf(m_header->bmiHeader) : 0;
}

int CDib::GetColorCount() const
{
    return m_header ? ColorCountOf(m_header->bmiHeader) : 0;
}

const RGBQUAD* CDib::GetColorTable() const
{
    if (!m_header)
        return nullptr;
    return reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const std::uint8_t*>(m_header) +
                                            m_header->bmiHeader.biSize);
}

std::vector<std::uint32_t> CDib::GetPalette() const
{
    std::vector<std::uint32_t> palette;
    const RGBQUAD* table = GetColorTable();
    for (int i = 0; table && i < GetColorCount() && i < kGreyPaletteSize; ++i)
        palette.push_back(0xFF000000u | (std::uint32_t{table[i].rgbRed} << 16) |
                          (std::uint32_t{table[i].rgbGreen} << 8) | table[i].rgbBlue);
    return palette;
}

bool CDib::PixelFormatOf(int bitCount, bool alpha, CPixelFormat& format)
{
    switch (bitCount) {
    case 8:
        format = CPixelFormat::Indexed8;
        return true;
    case 16:
        format = CPixelFormat::Rgb555;
        return true;
    case 24:
        format = CPixelFormat::Rgb24;
        return true;
    case 32:
        format = alpha ? CPixelFormat::Argb32 : CPixelFormat::Rgb32;
        return true;
    default:
        return false;
    }
}

template <class TFn> void CDib::ForEachPixel32(TFn fn)
{
    if (!m_bits || GetBitCount() != 32)
        return;
    for (int y = 0; y < GetHeight(); ++y) {
        std::uint8_t* pixel = GetRow(y);
        for (int x = 0; x < GetWidth(); ++x, pixel += 4)
            fn(pixel);
    }
}

void CDib::Fill(std::uint32_t value)
{
    ForEachPixel32([value](std::uint8_t* pixel) { std::memcpy(pixel, &value, 4); });
}

void CDib::SetAlpha(std::uint8_t alpha)
{
    ForEachPixel32([alpha](std::uint8_t* pixel) { pixel[3] = alpha; });
}

void CDib::Clear()
{
    if (m_bits)
        std::memset(m_bits, 0, GetImageSize());
}

void CDib::Premultiply()
{
    ForEachPixel32([](std::uint8_t* pixel) {
        for (int c = 0; c < 3; ++c)
            pixel[c] = static_cast<std::uint8_t>(pixel[c] * pixel[3] / 255);
    });
}

CDibSection::~CDibSection()
{
    CDibSection::FreeBits();
}

bool CDibSection::AllocBits()
{
    FreeBits();
    if (!m_header || GetCompression() != BI_RGB)
        return false;
    CPixelFormat format;
    // Depths the drawing surface has no bitmap for fail.
    if (!PixelFormatOf(GetBitCount(), true, format))
        return false;
    std::shared_ptr<CImage> bitmap = CImage::Create(GetWidth(), GetHeight(), format);
    // Both pad rows to four bytes, so the bitmap's memory is the DIB's.
    if (!bitmap || bitmap->GetStride() != GetStride())
        return false;
    if (format == CPixelFormat::Indexed8)
        bitmap->SetPalette(GetPalette());
    m_bitmap = std::move(bitmap);
    m_bits = m_bitmap->GetScan0();
    return true;
}

void CDibSection::FreeBits()
{
    // The pixels belong to the bitmap; whoever still holds it keeps them.
    m_bitmap.reset();
    m_bits = nullptr;
}

} // namespace zk
