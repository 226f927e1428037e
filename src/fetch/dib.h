#pragma once

#include "fetch/bitmap_info.h"
#include "fetch/image_fwd.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zk {

// A device-independent bitmap: a header with its colour table and a pixel
// buffer, both owned. 32-bit pixels are bytes blue, green, red, alpha, with
// alpha not premultiplied unless Premultiply was called.
//
// The header says bottom-up (positive height), as stored bitmaps do, but the
// buffer keeps the top row first: the drawing surface then draws straight
// into it without a copy. GetRow(0) is always the top row.
class CDib
{
public:
    CDib() = default;
    virtual ~CDib();
    CDib(const CDib&) = delete;
    CDib& operator=(const CDib&) = delete;

    // Replaces the header with a copy of the given one and its colour table.
    virtual bool CreateFromHeader(const BITMAPINFO* info);
    // Replaces the header with a 124-byte one; an embedded colour profile of
    // the given size goes after the colour table.
    virtual bool CreateV5(int width, int height, int bitCount, int colorCount,
                          std::uint32_t compression, std::uint32_t profileSize);
    virtual void FreeHeader();
    // Allocates the pixel buffer of the header's image size; its content is
    // undefined until the caller fills it.
    virtual bool AllocBits();
    virtual void FreeBits();

    // Replaces the header with a zeroed 40-byte one plus colour table; an
    // 8-bit bitmap with 256 colours gets a grey palette. False when out of
    // memory. The bits are allocated separately with AllocBits.
    bool Create(int width, int height, int bitCount, int colorCount = 0,
                std::uint32_t compression = BI_RGB);

    // Pixel operations on the whole buffer. Fill, SetAlpha and Premultiply
    // touch 32-bit bitmaps only and do nothing for other depths.
    void Fill(std::uint32_t value);
    void SetAlpha(std::uint8_t alpha);
    void Clear();
    void Premultiply();

    bool HasHeader() const { return m_header != nullptr; }
    bool HasBits() const { return m_bits != nullptr; }
    const BITMAPINFO* GetInfo() const { return m_header; }
    BITMAPINFO* GetInfo() { return m_header; }
    const BITMAPINFOHEADER* GetHeader() const;
    int GetWidth() const;
    // The number of rows, whichever way the header counts them.
    int GetHeight() const;
    int GetBitCount() const;
    std::uint32_t GetCompression() const;
    std::size_t GetStride() const;
    std::size_t GetImageSize() const;
    int GetColorCount() const;
    const RGBQUAD* GetColorTable() const;
    // The colour table as opaque 0xAARRGGBB colours, at most 256: a colour
    // table has no alpha, its fourth byte is reserved.
    std::vector<std::uint32_t> GetPalette() const;

    std::uint8_t* GetBits() { return m_bits; }
    const std::uint8_t* GetBits() const { return m_bits; }
    // Row y counted from the top.
    std::uint8_t* GetRow(int y) { return m_bits + static_cast<std::size_t>(y) * GetStride(); }
    const std::uint8_t* GetRow(int y) const
    {
        return m_bits + static_cast<std::size_t>(y) * GetStride();
    }

    // The rules every stored bitmap follows: rows padded to four bytes; the
    // image size from the header only for compressed formats; the colour
    // table length by depth and compression.
    static std::size_t StrideOf(int width, int bitCount);
    static std::size_t ImageSizeOf(const BITMAPINFOHEADER& header);
    static int ColorCountOf(const BITMAPINFOHEADER& header);
    // The drawing surface's format for pixels of this depth; 32-bit pixels
    // with or without their alpha. False for depths it has none for.
    static bool PixelFormatOf(int bitCount, bool alpha, CPixelFormat& format);

    // Sizes larger than this are refused rather than allocated, so that an
    // image size cannot overflow.
    static constexpr std::size_t kMaxImageSize = std::size_t{1} << 31;

protected:
    // Takes a fresh header block; frees the old one first.
    bool AllocHeader(std::size_t size);
    // Calls fn with each pixel of a 32-bit bitmap; nothing for other depths.
    template <class TFn> void ForEachPixel32(TFn fn);

    BITMAPINFO* m_header = nullptr;
    std::size_t m_headerSize = 0;
    std::uint8_t* m_bits = nullptr;
};

// A bitmap whose pixels belong to a drawing-surface bitmap, the handle that
// windows select and show; the bits are that bitmap's memory.
class CDibSection : public CDib
{
public:
    CDibSection() = default;
    ~CDibSection() override;

    bool AllocBits() override;
    void FreeBits() override;

    // The section's own bitmap over the bits; empty before AllocBits.
    const std::shared_ptr<CImage>& GetBitmap() const { return m_bitmap; }

private:
    std::shared_ptr<CImage> m_bitmap;
};

} // namespace zk
