#include "capture/selection.h"

#include <QPainter>

#include <algorithm>
#include <climits>
#include <utility>

namespace framelog {

namespace {

qint32 clamped(qint32 value, int limit)
{
    return std::clamp<qint32>(value, 0, std::max(limit, 0));
}

// The rectangle in QRect terms when it is ordered and has an inside;
// the edges may lie anywhere in 32 bits, so the sizes are taken in 64.
bool frameRect(const TRect &s, QRect &rect)
{
    const qint64 width = qint64(s.Right) - s.Left;
    const qint64 height = qint64(s.Bottom) - s.Top;
    if (width <= 0 || height <= 0 || width > INT_MAX || height > INT_MAX)
        return false;
    rect = QRect(s.Left, s.Top, int(width), int(height));
    return true;
}

} // namespace

bool normalizeSelection(TRect &s, int width, int height)
{
    if (s.Right == s.Left || s.Bottom == s.Top)
        return false;
    if (s.Left > s.Right)
        std::swap(s.Left, s.Right);
    if (s.Top > s.Bottom)
        std::swap(s.Top, s.Bottom);
    s.Left = clamped(s.Left, width);
    s.Right = clamped(s.Right, width);
    s.Top = clamped(s.Top, height);
    s.Bottom = clamped(s.Bottom, height);
    return true;
}

QList<QPoint> selectionFramePoints(const TRect &selection)
{
    QRect r;
    if (!frameRect(selection, r))
        return {};
    QList<QPoint> points;
    points.reserve(r.width() + r.height() + 2);
    // The dots sit on the pixels whose x + y is even, as a pattern brush
    // aligned to the surface would put them; each border pixel is visited
    // once, corners included.
    auto dot = [&points](int x, int y) {
        if (((x + y) & 1) == 0)
            points.append(QPoint(x, y));
    };
    for (int x = r.left(); x <= r.right(); ++x) {
        dot(x, r.top());
        if (r.bottom() != r.top())
            dot(x, r.bottom());
    }
    for (int y = r.top() + 1; y < r.bottom(); ++y) {
        dot(r.left(), y);
        if (r.right() != r.left())
            dot(r.right(), y);
    }
    return points;
}

QRegion selectionFrameRegion(const TRect &selection)
{
    QRect r;
    if (!frameRect(selection, r))
        return {};
    QRegion region;
    region += QRect(r.left(), r.top(), r.width(), 1);
    region += QRect(r.left(), r.bottom(), r.width(), 1);
    region += QRect(r.left(), r.top(), 1, r.height());
    region += QRect(r.right(), r.top(), 1, r.height());
    return region;
}

void drawSelectionFrame(QPainter &painter, const TRect &selection)
{
    const QList<QPoint> points = selectionFramePoints(selection);
    if (points.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    // White xor-ed into a pixel inverts its colour and leaves its alpha.
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(QPen(Qt::white, 0));
    painter.drawPoints(points.constData(), int(points.size()));
    painter.restore();
}

} // namespace framelog
