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

    // Writes the whole stream under `fileName` (see WholeFileWriter): the
    // name and its folder are checked first, then the picture is encoded if
    // this object has not done so yet, and only then written into a
    // temporary file next to the target and renamed over the name. No
    // picture, or one with a side of 0, gives an empty file. A name or
    // folder that cannot take the file throws EFCreateError before
    // encoding anything (a folder that refuses the temporary file itself
    // does so after); on EJPEG or EWriteError the file under the name is
    // left as it was.
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
