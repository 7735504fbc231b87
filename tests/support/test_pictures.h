#pragma once

// Pictures and folder listings that several tests share.

#include <QDir>
#include <QImage>
#include <QStringList>

#include <random>

namespace framelog::test {

// Grain: a picture that takes a while to encode and makes a large file.
inline QImage noise(int width, int height, unsigned seed = 1)
{
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xff000000u | (random() & 0xffffffu);
    }
    return image;
}

// Everything in `folder`, hidden entries (a temporary file) included.
inline QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace framelog::test
