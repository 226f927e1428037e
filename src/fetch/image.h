#pragma once

#include "fetch/draw_status.h"
#include "fetch/image_fwd.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace zk {

// How the pixels of an image are laid out in memory. 32-bit pixels read as
// one number are 0xAARRGGBB (bytes blue, green, red, alpha).
enum class CPixelFormat
{
    Argb32,   // alpha not premultiplied
    Rgb32,    // the fourth byte is ignored: every pixel is opaque
    Rgb24,    // bytes blue, green, red
    Rgb555,   // 16 bits: one unused bit, then five each of red, green and blue
    Indexed8, // one byte per pixel into the palette
};

// An image of the drawing surface: a decoded file, an off-screen bitmap, or
// a bitmap over memory that belongs to someone else (a device-independent
// bitmap), which drawing then changes directly. Rows are kept top row first;
// each row is GetStride() bytes long.
class CImage
{
public:
    // An owned 32-bit image, every pixel 0 (transparent black).
    CImage(int width, int height);
    // An owned 32-bit image from pixels without row padding, top row first.
    CImage(int width, int height, std::vector<std::uint32_t> pixels);
    // An owned image of any format, every byte 0; rows padded to four bytes.
    CImage(int width, int height, CPixelFormat format);
    // An image over caller memory: scan0 is the top row, stride the distance
    // to the next. The memory must outlive the image.
    CImage(int width, int height, CPixelFormat format, std::uint8_t* scan0, std::size_t stride);

    // A copy always owns its pixels.
    CImage(const CImage& other);
    CImage& operator=(const CImage& other);

    // An owned image, or empty when memory runs out or the size is invalid.
    static std::shared_ptr<CImage> Create(int width, int height, CPixelFormat format);

    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    CPixelFormat GetPixelFormat() const { return m_format; }
    std::size_t GetStride() const { return m_stride; }
    bool OwnsPixels() const { return m_owned; }
    static int BitsPerPixel(CPixelFormat format);
    static std::size_t StrideOf(int width, CPixelFormat format);

    // Pixels as 0xAARRGGBB whatever the format; SetPixel does nothing on an
    // indexed image.
    std::uint32_t GetPixel(int x, int y) const
    {
        if (m_format == CPixelFormat::Argb32)
            return Row32(y)[x];
        return ReadPixel(x, y);
    }
    void SetPixel(int x, int y, std::uint32_t argb)
    {
        if (m_format == CPixelFormat::Argb32)
            Row32(y)[x] = argb;
        else
            WritePixel(x, y, argb);
    }

    // The first row's memory; for 32-bit images the pixels as numbers.
    std::uint32_t* GetBits() { return reinterpret_cast<std::uint32_t*>(m_scan0); }
    const std::uint32_t* GetBits() const { return reinterpret_cast<const std::uint32_t*>(m_scan0); }
    std::uint8_t* GetScan0() { return m_scan0; }
    const std::uint8_t* GetScan0() const { return m_scan0; }
    std::uint8_t* GetRow(int y) { return m_scan0 + static_cast<std::size_t>(y) * m_stride; }
    const std::uint8_t* GetRow(int y) const
    {
        return m_scan0 + static_cast<std::size_t>(y) * m_stride;
    }

    // The colours of an indexed image, 0xAARRGGBB each.
    const std::vector<std::uint32_t>& GetPalette() const { return m_palette; }
    void SetPalette(std::vector<std::uint32_t> palette) { m_palette = std::move(palette); }

    // The status of the latest operation that reported on this image.
    CDrawStatus GetLastStatus() const { return m_lastStatus; }
    void SetLastStatus(CDrawStatus status) { m_lastStatus = status; }

private:
    std::uint32_t* Row32(int y) { return reinterpret_cast<std::uint32_t*>(GetRow(y)); }
    const std::uint32_t* Row32(int y) const
    {
        return reinterpret_cast<const std::uint32_t*>(GetRow(y));
    }
    std::uint32_t ReadPixel(int x, int y) const;
    void WritePixel(int x, int y, std::uint32_t argb);
    void AllocOwned();

    int m_width;
    int m_height;
    CPixelFormat m_format = CPixelFormat::Argb32;
    std::size_t m_stride = 0;
    bool m_owned = true;
    // Owned pixels live here in 32-bit units, whatever their format, so that
    // every row starts aligned.
    std::vector<std::uint32_t> m_pixels;
    std::uint8_t* m_scan0 = nullptr;
    std::vector<std::uint32_t> m_palette;
    CDrawStatus m_lastStatus = CDrawStatus::Ok;
};

// Decodes a PNG, JPEG, GIF or BMP file held in memory. Empty when the data
// is no such image or memory ran out.
std::shared_ptr<CImage> DecodeImage(const std::uint8_t* data, std::size_t length);

} // namespace zk
