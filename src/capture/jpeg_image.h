#pragma once

#include "capture/whole_file.h"
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

// Writes one picture as a baseline JFIF JPEG: quality 90, colour, 4:2:0,
// standard Huffman tables, floating-point DCT. The capture run makes one per
// tick: Assign the capture bitmap, SaveToFile, destroy.
class TJPEGImage {
public:
    // Keeps its own copy of `source` (any QImage format) and drops any data
    // encoded from an earlier picture.
    void Assign(const QImage &source);

    // Writes the whole stream under `fileName` (see WholeFileWriter): a
    // temporary file is created next to the target first, then the picture
    // is encoded if this object has not done so yet, written, and renamed
    // over the name. No picture, or one with a side of 0, gives an empty
    // file. Throws EFCreateError before encoding anything; on EJPEG or
    // EWriteError the file under the name is left as it was.
    void SaveToFile(const QString &fileName);

    // The whole file as SaveToFile writes it, encoding the picture if this
    // object has not done so yet. Throws EJPEG.
    const QByteArray &Encoded();

private:
    void Compress();

    QImage m_bitmap;
    // The whole file as it will be written; empty for an empty picture,
    // nullopt until the first save encodes it.
    std::optional<QByteArray> m_encoded;
};

} // namespace framelog
