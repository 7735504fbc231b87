#include "capture/frame_compare.h"

#include "capture/page_capture.h"

#include <algorithm>
#include <cstring>

namespace framelog {

namespace {

constexpr int kBlock = 8;
constexpr int kBlockBytes = kBlock * 4; // one block row of 32-bit pixels

qint64 blockCount(QSize size)
{
    return qint64((size.width() + kBlock - 1) / kBlock) * ((size.height() + kBlock - 1) / kBlock);
}

// The 32-bit picture to compare in place, or a converted copy held in
// `storage` for the odd format.
const QImage &asComparable(const QImage &picture, QImage::Format format, QImage &storage)
{
    if (picture.format() == format && picture.depth() == 32)
        return picture;
    storage = picture.convertToFormat(kCaptureFormat);
    return storage;
}

// A full block's row, 32 bytes, compared inline in four words: a library
// call per block would cost more than the comparison.
bool blockRowDiffers(const uchar *a, const uchar *b)
{
    quint64 wa[4], wb[4];
    std::memcpy(wa, a, sizeof wa);
    std::memcpy(wb, b, sizeof wb);
    return ((wa[0] ^ wb[0]) | (wa[1] ^ wb[1]) | (wa[2] ^ wb[2]) | (wa[3] ^ wb[3])) != 0;
}
static_assert(sizeof(quint64[4]) == kBlockBytes);

} // namespace

BlockChange compareBlocks(const QImage &a, const QImage &b)
{
    if (a.size() != b.size()) {
        const qint64 blocks = std::max<qint64>({blockCount(a.size()), blockCount(b.size()), 1});
        return {blocks, blocks};
    }
    BlockChange result{0, blockCount(a.size())};
    if (result.blocks == 0)
        return result;

    // Both sides of one 32-bit format compare in place; anything else meets
    // in the capture format.
    const QImage::Format format =
        a.format() == b.format() && a.depth() == 32 ? a.format() : kCaptureFormat;
    QImage convertedA, convertedB;
    const QImage &left = asComparable(a, format, convertedA);
    const QImage &right = asComparable(b, format, convertedB);
    // One shared pixel buffer (a copy of the same capture) is identical.
    if (left.constBits() == right.constBits() && left.bytesPerLine() == right.bytesPerLine())
        return result;

    const int width = left.width();
    const int height = left.height();
    const std::size_t rowBytes = std::size_t(width) * 4;
    const int fullBlocks = width / kBlock;
    const std::size_t tailBytes = rowBytes - std::size_t(fullBlocks) * kBlockBytes;

    for (int top = 0; top < height; top += kBlock) {
        const int bottom = std::min(top + kBlock, height);
        // Whole rows first: a band that did not change costs a few long
        // comparisons, and rows above the first differing one are equal in
        // every block of the band.
        int first = top;
        while (first < bottom &&
               std::memcmp(left.constScanLine(first), right.constScanLine(first), rowBytes) == 0)
            ++first;
        if (first == bottom)
            continue;

        for (int block = 0; block < fullBlocks; ++block) {
            const std::size_t offset = std::size_t(block) * kBlockBytes;
            for (int y = first; y < bottom; ++y) {
                if (blockRowDiffers(left.constScanLine(y) + offset,
                                    right.constScanLine(y) + offset)) {
                    ++result.changed;
                    break;
                }
            }
        }
        if (tailBytes != 0) {
            const std::size_t offset = rowBytes - tailBytes;
            for (int y = first; y < bottom; ++y) {
                if (std::memcmp(left.constScanLine(y) + offset, right.constScanLine(y) + offset,
                                tailBytes) != 0) {
                    ++result.changed;
                    break;
                }
            }
        }
    }
    return result;
}

bool isFlatColour(const QImage &picture)
{
    if (picture.isNull())
        return false;
    QImage converted;
    const QImage &image =
        picture.depth() == 32 ? picture : (converted = picture.convertToFormat(kCaptureFormat));
    const int width = image.width();
    const auto *firstRow = reinterpret_cast<const quint32 *>(image.constScanLine(0));
    const quint32 colour = firstRow[0];
    if (!std::all_of(firstRow, firstRow + width, [colour](quint32 p) { return p == colour; }))
        return false;
    // Every other row must equal the first, byte for byte.
    const std::size_t rowBytes = std::size_t(width) * 4;
    for (int y = 1; y < image.height(); ++y)
        if (std::memcmp(image.constScanLine(y), firstRow, rowBytes) != 0)
            return false;
    return true;
}

} // namespace framelog
