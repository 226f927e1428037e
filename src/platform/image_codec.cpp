#include "platform/image_codec.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QSize>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

namespace zk {
namespace {

// The usual web formats; other readers Qt may have (XPM, PBM...) would take
// text files for images.
bool IsWebFormat(const QByteArray& format)
{
    return format == "png" || format == "jpeg" || format == "jpg" || format == "gif" ||
           format == "bmp";
}

// The reader's own limit on what it allocates, in MiB, to match: the pixels
// at four bytes each, and a little beside them.
constexpr int kAllocationLimitMiB = static_cast<int>(kMaxImagePixels * 4 / (1024 * 1024)) + 1;

} // namespace

CDecodeStatus DecodeImageArgb(const std::uint8_t* data, std::size_t length, int& width, int& height,
                              std::vector<std::uint32_t>& pixels)
{
    width = 0;
    height = 0;
    pixels.clear();
    if (!data || length == 0 || length > static_cast<std::size_t>(INT_MAX))
        return CDecodeStatus::NotAnImage;

    try {
        // The reader works on the caller's bytes without copying them.
        QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                                   static_cast<qsizetype>(length));
        QBuffer buffer(&bytes);
        if (!buffer.open(QIODevice::ReadOnly))
            return CDecodeStatus::NotAnImage;
        QImageReader reader(&buffer);
        reader.setDecideFormatFromContent(true);
        if (!IsWebFormat(reader.format()))
            return CDecodeStatus::NotAnImage;
        // The header's size decides before any pixel is decoded.
        QSize size = reader.size();
        if (!size.isValid())
            return CDecodeStatus::NotAnImage;
        if (std::int64_t(size.width()) * size.height() > kMaxImagePixels)
            return CDecodeStatus::TooLarge;
        // The limit is the process's: every image read goes through here.
        static const bool limited = [] {
            QImageReader::setAllocationLimit(kAllocationLimitMiB);
            return true;
        }();
        (void)limited;
        QImage argb;
        if (!reader.read(&argb) || argb.isNull())
            return CDecodeStatus::NotAnImage;
        // A header that lied about the size does not get past it either.
        if (std::int64_t(argb.width()) * argb.height() > kMaxImagePixels)
            return CDecodeStatus::TooLarge;
        argb.convertTo(QImage::Format_ARGB32);
        if (argb.isNull() || argb.format() != QImage::Format_ARGB32)
            return CDecodeStatus::OutOfMemory;

        int w = argb.width();
        int h = argb.height();
        pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
        for (int y = 0; y < h; ++y)
            std::memcpy(pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w),
                        argb.constScanLine(y), static_cast<std::size_t>(w) * sizeof(std::uint32_t));
        width = w;
        height = h;
        return CDecodeStatus::Ok;
    } catch (const std::bad_alloc&) {
        pixels.clear();
        return CDecodeStatus::OutOfMemory;
    }
}

} // namespace zk
