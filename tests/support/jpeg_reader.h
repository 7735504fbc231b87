#pragma once

// Reading back the JPEG files Framelog writes: the marker segments, the
// frame header, the tables, and the decoded pixels.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <array>
#include <optional>

namespace framelog::test {

// Marker codes (the byte after 0xFF).
enum JpegMarker : quint8 {
    kSOF0 = 0xC0,
    kDHT = 0xC4,
    kSOI = 0xD8,
    kEOI = 0xD9,
    kSOS = 0xDA,
    kDQT = 0xDB,
    kDRI = 0xDD,
    kAPP0 = 0xE0,
    kAPP15 = 0xEF,
    kCOM = 0xFE,
};

struct JpegSegment {
    quint8 marker = 0;
    qsizetype offset = 0; // of the 0xFF that starts the marker
    QByteArray payload;   // after the length field; empty for SOI and EOI
};

struct JpegStructure {
    QList<JpegSegment> segments; // SOI first; EOI last when the file is complete
    QString error;               // empty when the whole file parsed
    bool ok() const { return error.isEmpty(); }
    QList<quint8> markers() const;
    QList<JpegSegment> segmentsWith(quint8 marker) const;
};

// Splits a file into its marker segments, stepping over the entropy-coded
// data after each SOS. Anything malformed, missing or trailing after EOI is
// reported in `error`.
JpegStructure parseJpeg(const QByteArray &file);

struct JpegFrame {
    struct Component {
        int id = 0;
        int horizontal = 0; // sampling factors
        int vertical = 0;
        int quantTable = 0;
    };
    int precision = 0;
    int width = 0;
    int height = 0;
    QList<Component> components;
};

// The payload of an SOFn segment; nullopt when it is malformed.
std::optional<JpegFrame> parseFrame(const QByteArray &sofPayload);

struct QuantTable {
    int id = 0;
    int precision = 0;           // 0: 8-bit entries, 1: 16-bit
    std::array<int, 64> natural; // row by row, as the file's zigzag order undone
};

// The tables of one DQT payload; empty when it is malformed.
QList<QuantTable> parseQuantTables(const QByteArray &dqtPayload);

struct HuffmanTable {
    int tableClass = 0; // 0: DC, 1: AC
    int id = 0;
    std::array<int, 16> counts; // codes of each length 1..16
    QByteArray values;
};

// The tables of one DHT payload; empty when it is malformed.
QList<HuffmanTable> parseHuffmanTables(const QByteArray &dhtPayload);

// Decodes with libjpeg into Format_RGB888. Any libjpeg error or warning
// (a truncated or corrupt stream) gives a null image and the reason in
// `error`.
QImage decodeJpeg(const QByteArray &file, QString *error = nullptr);

enum class ReferenceDct { Float, IntegerSlow };

// The stream libjpeg writes for `image` by the book: a 24-bit RGB copy, one
// row per call, jpeg_set_defaults, quality 90 forced baseline, the given DCT.
// Files Framelog writes must equal the Float one byte for byte. Empty when
// libjpeg fails.
QByteArray referenceJpeg(const QImage &image, ReferenceDct dct = ReferenceDct::Float);

// The whole file; nullopt when it cannot be read.
std::optional<QByteArray> readWholeFile(const QString &path);

} // namespace framelog::test
