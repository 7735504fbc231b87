#pragma once

// A clock a page draws into its pixels, read back from a picture: 32 cells
// in a row hold the time's milliseconds (since the epoch, modulo 2^32),
// lowest bit first, white for 1, and the row below holds the complement, so
// a half-drawn or smeared code reads as none. Pages draw it with
// drawClockCode() of tests/pages/clock-code.js; test servers with
// paintClockCode().

#include <QDateTime>
#include <QImage>
#include <QPainter>
#include <QPoint>

#include <optional>

namespace framelog::test {

inline constexpr int kClockCell = 16;
inline constexpr int kClockBits = 32;
inline constexpr QSize kClockCodeSize(kClockBits *kClockCell, 2 * kClockCell);

inline quint32 clockNow()
{
    return quint32(QDateTime::currentMSecsSinceEpoch() & 0xffffffffLL);
}

inline void paintClockCode(QPainter &painter, QPoint at, quint32 ms)
{
    for (int bit = 0; bit < kClockBits; ++bit) {
        const bool one = (ms >> bit) & 1u;
        const QRect cell(at.x() + bit * kClockCell, at.y(), kClockCell, kClockCell);
        painter.fillRect(cell, one ? Qt::white : Qt::black);
        painter.fillRect(cell.translated(0, kClockCell), one ? Qt::black : Qt::white);
    }
}

// The mean brightness of the middle of a cell.
inline int cellGrey(const QImage &image, int x, int y)
{
    int sum = 0, n = 0;
    for (int dy = -3; dy <= 3; ++dy)
        for (int dx = -3; dx <= 3; ++dx) {
            const QPoint p(x + dx, y + dy);
            if (!image.rect().contains(p))
                return -1;
            sum += qGray(image.pixel(p));
            ++n;
        }
    return sum / n;
}

inline std::optional<quint32> readClockCode(const QImage &image, QPoint at)
{
    quint32 ms = 0;
    for (int bit = 0; bit < kClockBits; ++bit) {
        const int x = at.x() + bit * kClockCell + kClockCell / 2;
        const int top = cellGrey(image, x, at.y() + kClockCell / 2);
        const int bottom = cellGrey(image, x, at.y() + kClockCell + kClockCell / 2);
        if (top < 0 || bottom < 0 || (top > 127) == (bottom > 127) || std::abs(top - bottom) < 80)
            return std::nullopt;
        if (top > 127)
            ms |= 1u << bit;
    }
    return ms;
}

// How old the clock `shown` is at `now`, both from clockNow(); negative when
// it is ahead.
inline qint64 clockAge(quint32 now, quint32 shown)
{
    return qint64(qint32(now - shown));
}

} // namespace framelog::test
