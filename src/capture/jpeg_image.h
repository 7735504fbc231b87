#pragma once

#include "core/exception.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

namespace framelog {

// The compressor failed; the message is "JPEG error #N" with libjpeg's
// message code (41: a side longer than 65500 pixels).
class EJPEG : public Exception {
public:
    using Exception::Exception;
};

// An output file could not be created or written.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// "Cannot create file "<full path>". <system text>"
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// "Cannot write file "<full path>". <system text>": the disk took less than
// the whole picture, so the file on disk is not a complete JPEG.
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// Writes one picture as a baseline JFIF JPEG: quality 90, colour, 4:2:0,
// standard Huffman tables, floating-point DCT. The capture run makes one per
// tick: Assign the capture bitmap, SaveToFile, destroy.
class TJPEGImage {
public:
    // Keeps its own copy of `source` (any QImage format) and drops any data
    // encoded from an earlier picture.
    void Assign(const QImage &source);

    // Creates (or truncates) the file, encodes the picture if this object has
    // not done so yet, and writes the whole stream. No picture, or one with a
    // side of 0, gives an empty file. Throws EFCreateError before encoding
    // anything; EJPEG or EWriteError leave the created file behind. The file
    // is closed on every path.
    void SaveToFile(const QString &fileName);

private:
    void Compress();

    QImage m_bitmap;
    // The whole file as it will be written; empty for an empty picture,
    // nullopt until the first save encodes it.
    std::optional<QByteArray> m_encoded;
};

} // namespace framelog
