#include "jpeg_reader.h"

#include <QFile>

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>

#include <jpeglib.h>

namespace framelog::test {

namespace {

// Zigzag position -> natural (row by row) position within an 8x8 block.
constexpr std::array<int, 64> kNaturalOrder = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

quint8 at(const QByteArray &bytes, qsizetype i)
{
    return quint8(bytes.at(i));
}

int bigEndian16(const QByteArray &bytes, qsizetype i)
{
    return at(bytes, i) << 8 | at(bytes, i + 1);
}

bool isRestart(quint8 marker)
{
    return marker >= 0xD0 && marker <= 0xD7;
}

} // namespace

QList<quint8> JpegStructure::markers() const
{
    QList<quint8> result;
    for (const JpegSegment &segment : segments)
        result.append(segment.marker);
    return result;
}

QList<JpegSegment> JpegStructure::segmentsWith(quint8 marker) const
{
    QList<JpegSegment> result;
    for (const JpegSegment &segment : segments) {
        if (segment.marker == marker)
            result.append(segment);
    }
    return result;
}

JpegStructure parseJpeg(const QByteArray &file)
{
    JpegStructure s;
    const qsizetype size = file.size();
    if (size < 2 || at(file, 0) != 0xFF || at(file, 1) != kSOI) {
        s.error = QStringLiteral("no SOI at the start");
        return s;
    }
    s.segments.append({kSOI, 0, {}});
    qsizetype pos = 2;
    for (;;) {
        if (pos >= size) {
            s.error = QStringLiteral("the file ends without EOI");
            return s;
        }
        if (at(file, pos) != 0xFF) {
            s.error = QStringLiteral("no marker at offset %1").arg(pos);
            return s;
        }
        const qsizetype start = pos;
        while (pos < size && at(file, pos) == 0xFF) // fill bytes
            ++pos;
        if (pos >= size) {
            s.error = QStringLiteral("the file ends inside a marker");
            return s;
        }
        const quint8 marker = at(file, pos++);
        if (marker == kEOI) {
            s.segments.append({marker, start, {}});
            if (pos != size)
                s.error = QStringLiteral("%1 bytes after EOI").arg(size - pos);
            return s;
        }
        if (marker == 0x00 || marker == 0x01 || marker == kSOI || isRestart(marker)) {
            s.error = QStringLiteral("marker %1 out of place at offset %2")
                          .arg(marker, 2, 16, QLatin1Char('0'))
                          .arg(start);
            return s;
        }
        if (pos + 2 > size) {
            s.error = QStringLiteral("the file ends inside a segment length");
            return s;
        }
        const int length = bigEndian16(file, pos);
        if (length < 2 || pos + length > size) {
            s.error = QStringLiteral("segment at offset %1 runs past the end").arg(start);
            return s;
        }
        s.segments.append({marker, start, file.mid(pos + 2, length - 2)});
        pos += length;
        if (marker != kSOS)
            continue;
        // Entropy-coded data: 0xFF is followed by a stuffed 0x00 or a restart
        // marker inside it; any other marker ends it.
        while (pos < size) {
            if (at(file, pos) == 0xFF && pos + 1 < size) {
                const quint8 next = at(file, pos + 1);
                if (next != 0x00 && next != 0xFF && !isRestart(next))
                    break;
                pos += next == 0xFF ? 1 : 2;
                continue;
            }
            ++pos;
        }
    }
}

std::optional<JpegFrame> parseFrame(const QByteArray &payload)
{
    if (payload.size() < 6)
        return std::nullopt;
    JpegFrame frame;
    frame.precision = at(payload, 0);
    frame.height = bigEndian16(payload, 1);
    frame.width = bigEndian16(payload, 3);
    const int count = at(payload, 5);
    if (payload.size() != 6 + 3 * count)
        return std::nullopt;
    for (int i = 0; i < count; ++i) {
        const qsizetype p = 6 + 3 * i;
        frame.components.append({at(payload, p), at(payload, p + 1) >> 4, at(payload, p + 1) & 0x0F,
                                 at(payload, p + 2)});
    }
    return frame;
}

QList<QuantTable> parseQuantTables(const QByteArray &payload)
{
    QList<QuantTable> tables;
    qsizetype pos = 0;
    while (pos < payload.size()) {
        QuantTable table;
        table.precision = at(payload, pos) >> 4;
        table.id = at(payload, pos) & 0x0F;
        ++pos;
        const int entrySize = table.precision == 0 ? 1 : 2;
        if (pos + 64 * entrySize > payload.size())
            return {};
        for (int k = 0; k < 64; ++k) {
            table.natural[kNaturalOrder[k]] =
                entrySize == 1 ? at(payload, pos + k) : bigEndian16(payload, pos + 2 * k);
        }
        pos += 64 * entrySize;
        tables.append(table);
    }
    return tables;
}

QList<HuffmanTable> parseHuffmanTables(const QByteArray &payload)
{
    QList<HuffmanTable> tables;
    qsizetype pos = 0;
    while (pos < payload.size()) {
        if (pos + 17 > payload.size())
            return {};
        HuffmanTable table;
        table.tableClass = at(payload, pos) >> 4;
        table.id = at(payload, pos) & 0x0F;
        int total = 0;
        for (int i = 0; i < 16; ++i) {
            table.counts[i] = at(payload, pos + 1 + i);
            total += table.counts[i];
        }
        pos += 17;
        if (pos + total > payload.size())
            return {};
        table.values = payload.mid(pos, total);
        pos += total;
        tables.append(table);
    }
    return tables;
}

// ---- decoding -----------------------------------------------------------------
// libjpeg's errors longjmp back into runDecompressor: it and the callbacks
// hold no objects with destructors, and the QImage is made by a noexcept
// helper that returns before libjpeg continues.

namespace {

struct DecodeErrors {
    jpeg_error_mgr pub; // first, so libjpeg's pointer converts back
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void decodeErrorExit(j_common_ptr cinfo)
{
    auto *errors = reinterpret_cast<DecodeErrors *>(cinfo->err);
    errors->pub.format_message(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

// A warning means a damaged stream, which these checks must not pass over.
void decodeEmitMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        decodeErrorExit(cinfo);
}

struct DecodeTarget {
    QImage image;
};

unsigned char *allocateTarget(DecodeTarget *target, int width, int height, qsizetype *step) noexcept
{
    try {
        target->image = QImage(width, height, QImage::Format_RGB888);
    } catch (...) {
        return nullptr;
    }
    if (target->image.isNull())
        return nullptr;
    *step = target->image.bytesPerLine();
    return target->image.bits();
}

bool runDecompressor(const QByteArray &file, DecodeTarget *target, char *message) noexcept
{
    jpeg_decompress_struct cinfo{};
    DecodeErrors errors;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = decodeErrorExit;
    errors.pub.emit_message = decodeEmitMessage;
    errors.message[0] = '\0';

    if (setjmp(errors.jump)) {
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", errors.message);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(file.constData()),
                 static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    qsizetype step = 0;
    unsigned char *row =
        allocateTarget(target, int(cinfo.output_width), int(cinfo.output_height), &step);
    if (row == nullptr) {
        std::snprintf(message, JMSG_LENGTH_MAX, "no memory for the decoded picture");
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {row};
        row += step * jpeg_read_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

QImage decodeJpeg(const QByteArray &file, QString *error)
{
    DecodeTarget target;
    char message[JMSG_LENGTH_MAX];
    if (!runDecompressor(file, &target, message)) {
        if (error)
            *error = QString::fromLocal8Bit(message);
        return {};
    }
    if (error)
        error->clear();
    return std::move(target.image);
}

namespace {

struct ReferenceJob {
    const unsigned char *bits;
    qsizetype step;
    int width;
    int height;
    J_DCT_METHOD dct;
    unsigned char **out; // malloc'd by libjpeg, also when it fails
    unsigned long *outSize;
};

bool runReferenceCompressor(const ReferenceJob &job) noexcept
{
    jpeg_compress_struct cinfo{};
    DecodeErrors errors;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = decodeErrorExit;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, job.out, job.outSize);
    cinfo.image_width = JDIMENSION(job.width);
    cinfo.image_height = JDIMENSION(job.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.dct_method = job.dct;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row[1] = {const_cast<JSAMPLE *>(job.bits + job.step * cinfo.next_scanline)};
        jpeg_write_scanlines(&cinfo, row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

} // namespace

QByteArray referenceJpeg(const QImage &image, ReferenceDct dct)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    const bool ok = runReferenceCompressor(
        {rgb.constBits(), rgb.bytesPerLine(), rgb.width(), rgb.height(),
         dct == ReferenceDct::Float ? JDCT_FLOAT : JDCT_ISLOW, &out, &outSize});
    QByteArray result;
    if (ok)
        result = QByteArray(reinterpret_cast<const char *>(out), qsizetype(outSize));
    std::free(out);
    return result;
}

std::optional<QByteArray> readWholeFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

} // namespace framelog::test
