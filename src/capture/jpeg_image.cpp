#include "capture/jpeg_image.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <new>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace framelog {

namespace {

constexpr int kQuality = 90;
constexpr std::size_t kBlockSize = 4096;

// ---- libjpeg glue -----------------------------------------------------------
// libjpeg is C: its fatal errors longjmp back into runCompressor, so neither
// that function nor any callback below may hold an object with a destructor
// across a libjpeg call, and no C++ exception may leave a callback.

struct ErrorManager {
    jpeg_error_mgr pub; // first, so libjpeg's pointer converts back
    std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

// Warnings and trace output are of no use to anyone watching a capture run.
void emitMessage(j_common_ptr, int) {}
void outputMessage(j_common_ptr) {}
void formatMessage(j_common_ptr, char *buffer)
{
    buffer[0] = '\0';
}

void resetErrorManager(j_common_ptr cinfo)
{
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}

// Collects the stream in `out` a block at a time.
struct BlockDestination {
    jpeg_destination_mgr pub; // first, so libjpeg's pointer converts back
    QByteArray *out;
    JOCTET block[kBlockSize];
};

bool appendBytes(QByteArray *out, const JOCTET *bytes, std::size_t count) noexcept
{
    try {
        out->append(reinterpret_cast<const char *>(bytes), qsizetype(count));
        return true;
    } catch (...) {
        return false;
    }
}

void initDestination(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<BlockDestination *>(cinfo->dest);
    dest->pub.next_output_byte = dest->block;
    dest->pub.free_in_buffer = kBlockSize;
}

boolean emptyOutputBuffer(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<BlockDestination *>(cinfo->dest);
    // libjpeg hands over a full block here, whatever free_in_buffer says.
    if (!appendBytes(dest->out, dest->block, kBlockSize))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    dest->pub.next_output_byte = dest->block;
    dest->pub.free_in_buffer = kBlockSize;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<BlockDestination *>(cinfo->dest);
    if (!appendBytes(dest->out, dest->block, kBlockSize - dest->pub.free_in_buffer))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
}

struct CompressJob {
    JSAMPROW *rows; // top row first
    JDIMENSION width;
    JDIMENSION height;
    int components;
    J_COLOR_SPACE colorSpace;
    bool allRowsPerCall;
    QByteArray *out;
};

// Returns false with libjpeg's message code in `errorCode` when the
// compressor failed. The compressor is destroyed on both paths.
bool runCompressor(const CompressJob &job, int *errorCode) noexcept
{
    jpeg_compress_struct cinfo{}; // zeroed: destroy is safe whenever create fails
    ErrorManager err;
    BlockDestination dest;

    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = emitMessage;
    err.pub.output_message = outputMessage;
    err.pub.format_message = formatMessage;
    err.pub.reset_error_mgr = resetErrorManager;
    dest.pub.init_destination = initDestination;
    dest.pub.empty_output_buffer = emptyOutputBuffer;
    dest.pub.term_destination = termDestination;
    dest.out = job.out;

    if (setjmp(err.jump)) {
        *errorCode = err.pub.msg_code;
        jpeg_destroy_compress(&cinfo);
        return false;
    }

    jpeg_create_compress(&cinfo);
    cinfo.dest = &dest.pub;
    cinfo.image_width = job.width;
    cinfo.image_height = job.height;
    cinfo.input_components = job.components;
    cinfo.in_color_space = job.colorSpace;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kQuality, TRUE);
    // libjpeg-turbo defaults to the integer DCT; the files are defined with
    // the floating-point one.
    cinfo.dct_method = JDCT_FLOAT;
    jpeg_start_compress(&cinfo, TRUE);

    JSAMPROW *next = job.rows;
    while (cinfo.next_scanline < cinfo.image_height) {
        const JDIMENSION offered =
            job.allRowsPerCall ? cinfo.image_height - cinfo.next_scanline : 1;
        // With a destination that never suspends, every offered row is taken.
        next += jpeg_write_scanlines(&cinfo, next, offered);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// ---- pixels -----------------------------------------------------------------

// The picture as the compressor reads it: the bitmap itself when libjpeg can
// take its layout, else a 24-bit copy.
struct CompressorInput {
    QImage image;
    J_COLOR_SPACE colorSpace;
    int components;
};

CompressorInput compressorInput(const QImage &bitmap)
{
    switch (bitmap.format()) {
#ifdef JCS_EXTENSIONS
    case QImage::Format_RGB32:
        // The screen format. Its 0xffRRGGBB words are blue, green, red, unused
        // in memory on little-endian machines; reading them in place saves a
        // 24-bit copy of every picture and gives the compressor the very same
        // samples.
        return {bitmap, Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB, 4};
    case QImage::Format_BGR888:
        return {bitmap, JCS_EXT_BGR, 3};
#endif
    case QImage::Format_RGB888:
        return {bitmap, JCS_RGB, 3};
    default:
        break;
    }
    QImage converted = bitmap.convertToFormat(QImage::Format_RGB888);
    if (converted.isNull())
        throw std::bad_alloc();
    return {std::move(converted), JCS_RGB, 3};
}

} // namespace

void TJPEGImage::Assign(const QImage &source)
{
    // QImage copies share pixels until one side writes; this object never
    // writes, so later changes to the caller's image leave it untouched.
    m_bitmap = source;
    m_encoded.reset();
}

void TJPEGImage::SaveToFile(const QString &fileName)
{
    // The name is checked before the encoding, so a name that cannot be
    // written costs no encoding and reports itself first; the temporary file
    // is made once there is a picture to put in it.
    WholeFileWriter file(fileName);
    file.commit(Encoded());
}

const QByteArray &TJPEGImage::Encoded()
{
    if (!m_encoded)
        Compress();
    return *m_encoded;
}

void TJPEGImage::Compress()
{
    m_encoded.reset();
    if (m_bitmap.isNull() || m_bitmap.width() == 0 || m_bitmap.height() == 0) {
        m_encoded.emplace();
        return;
    }

    const CompressorInput input = compressorInput(m_bitmap);
    const QImage &image = input.image;
    const qsizetype step = image.bytesPerLine();
    std::vector<JSAMPROW> rows(std::size_t(image.height()));
    // The compressor only reads the rows.
    auto *row = const_cast<JSAMPLE *>(reinterpret_cast<const JSAMPLE *>(image.constBits()));
    for (JSAMPROW &r : rows) {
        r = row;
        row += step;
    }

    QByteArray encoded;
    const CompressJob job{rows.data(),      JDIMENSION(image.width()), JDIMENSION(image.height()),
                          input.components, input.colorSpace,          step > 0 && step % 4 == 0,
                          &encoded};
    int errorCode = 0;
    if (!runCompressor(job, &errorCode))
        throw EJPEG(QStringLiteral("JPEG error #%1").arg(errorCode));
    m_encoded = std::move(encoded);
}

} // namespace framelog
