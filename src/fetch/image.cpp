#include "fetch/image.h"

#include "platform/image_codec.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace zk {

namespace {

// Five bits of a 555 pixel widened to eight, so that 31 becomes 255.
std::uint32_t Widen5(std::uint32_t v)
{
    return (v << 3) | (v >> 2);
}

} // namespace

CImage::CImage(int width, int height)
    : m_width(width < 0 ? 0 : width), m_height(height < 0 ? 0 : height),
      m_stride(static_cast<std::size_t>(m_width) * 4),
      m_pixels(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height), 0u)
{
    m_scan0 = reinterpret_cast<std::uint8_t*>(m_pixels.data());
}

CImage::CImage(int width, int height, std::vector<std::uint32_t> pixels)
    : m_width(width < 0 ? 0 : width), m_height(height < 0 ? 0 : height),
      m_stride(static_cast<std::size_t>(m_width) * 4), m_pixels(std::move(pixels))
{
    m_pixels.resize(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height), 0u);
    m_scan0 = reinterpret_cast<std::uint8_t*>(m_pixels.data());
}

CImage::CImage(int width, int height, CPixelFormat format)
    : m_width(width < 0 ? 0 : width), m_height(height < 0 ? 0 : height), m_format(format),
      m_stride(StrideOf(m_width, format))
{
    AllocOwned();
}

CImage::CImage(int width, int height, CPixelFormat format, std::uint8_t* scan0, std::size_t stride)
    : m_width(width < 0 ? 0 : width), m_height(height < 0 ? 0 : height), m_format(format),
      m_stride(stride), m_owned(false), m_scan0(scan0)
{}

CImage::CImage(const CImage& other)
    : m_width(other.m_width), m_height(other.m_height), m_format(other.m_format),
      m_stride(StrideOf(other.m_width, other.m_format)), m_palette(other.m_palette),
      m_lastStatus(other.m_lastStatus)
{
    AllocOwned();
    std::size_t rowBytes = std::min(m_stride, other.m_stride);
    for (int y = 0; y < m_height; ++y)
        std::memcpy(GetRow(y), other.GetRow(y), rowBytes);
}

CImage& CImage::operator=(const CImage& other)
{
    if (this != &other) {
        CImage copy(other);
        m_width = copy.m_width;
        m_height = copy.m_height;
        m_format = copy.m_format;
        m_stride = copy.m_stride;
        m_owned = true;
        m_pixels.swap(copy.m_pixels);
        m_scan0 = reinterpret_cast<std::uint8_t*>(m_pixels.data());
        m_palette.swap(copy.m_palette);
        m_lastStatus = copy.m_lastStatus;
    }
    return *this;
}

void CImage::AllocOwned()
{
    m_owned = true;
    std::size_t bytes = m_stride * static_cast<std::size_t>(m_height);
    m_pixels.assign((bytes + 3) / 4, 0u);
    m_scan0 = reinterpret_cast<std::uint8_t*>(m_pixels.data());
}

std::shared_ptr<CImage> CImage::Create(int width, int height, CPixelFormat format)
{
    // Refuse sizes whose byte count would not fit, rather than wrap.
    constexpr std::size_t kMaxBytes = std::size_t{1} << 31;
    if (width < 0 || height < 0)
        return {};
    if (StrideOf(width, format) * static_cast<std::size_t>(height) > kMaxBytes)
        return {};
    try {
        return std::make_shared<CImage>(width, height, format);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

int CImage::BitsPerPixel(CPixelFormat format)
{
    switch (format) {
    case CPixelFormat::Argb32:
    case CPixelFormat::Rgb32:
        return 32;
    case CPixelFormat::Rgb24:
        return 24;
    case CPixelFormat::Rgb555:
        return 16;
    case CPixelFormat::Indexed8:
        return 8;
    }
    return 32;
}

std::size_t CImage::StrideOf(int width, CPixelFormat format)
{
    std::size_t bits = static_cast<std::size_t>(width < 0 ? 0 : width) *
                       static_cast<std::size_t>(BitsPerPixel(format));
    return ((bits + 31) / 32) * 4;
}

std::uint32_t CImage::ReadPixel(int x, int y) const
{
    const std::uint8_t* row = GetRow(y);
    switch (m_format) {
    case CPixelFormat::Argb32:
        return Row32(y)[x];
    case CPixelFormat::Rgb32:
        return Row32(y)[x] | 0xFF000000u;
    case CPixelFormat::Rgb24: {
        const std::uint8_t* p = row + 3 * static_cast<std::size_t>(x);
        return 0xFF000000u | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
    }
    case CPixelFormat::Rgb555: {
        std::uint16_t v;
        std::memcpy(&v, row + 2 * static_cast<std::size_t>(x), 2);
        return 0xFF000000u | (Widen5((v >> 10) & 31) << 16) | (Widen5((v >> 5) & 31) << 8) |
               Widen5(v & 31);
    }
    case CPixelFormat::Indexed8: {
        std::uint8_t index = row[x];
        return index < m_palette.size() ? m_palette[index] : 0u;
    }
    }
    return 0;
}

void CImage::WritePixel(int x, int y, std::uint32_t argb)
{
    std::uint8_t* row = GetRow(y);
    std::uint8_t r = static_cast<std::uint8_t>(argb >> 16);
    std::uint8_t g = static_cast<std::uint8_t>(argb >> 8);
    std::uint8_t b = static_cast<std::uint8_t>(argb);
    switch (m_format) {
    case CPixelFormat::Argb32:
        Row32(y)[x] = argb;
        break;
    case CPixelFormat::Rgb32:
        Row32(y)[x] = argb | 0xFF000000u;
        break;
    case CPixelFormat::Rgb24: {
        std::uint8_t* p = row + 3 * static_cast<std::size_t>(x);
        p[0] = b;
        p[1] = g;
        p[2] = r;
        break;
    }
    case CPixelFormat::Rgb555: {
        std::uint16_t v = static_cast<std::uint16_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
        std::memcpy(row + 2 * static_cast<std::size_t>(x), &v, 2);
        break;
    }
    case CPixelFormat::Indexed8:
        // An indexed image has no colour for an arbitrary value.
        break;
    }
}

std::shared_ptr<CImage> DecodeImage(const std::uint8_t* data, std::size_t length)
{
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    if (DecodeImageArgb(data, length, width, height, pixels) != CDecodeStatus::Ok)
        return {};
    try {
        return std::make_shared<CImage>(width, height, std::move(pixels));
    } catch (const std::bad_alloc&) {
        return {};
    }
}

} // namespace zk
