#include "capture/page_capture.h"

#include "capture/quick_frame_reader.h"
#include "core/exception.h"

#include <QPainter>
#include <QRegion>
#include <QWidget>

#include <cmath>

namespace framelog {

QRect captureSource(bool selectionActive, const TRect &s, QSize widgetSize)
{
    if (selectionActive)
        return QRect(s.Left, s.Top, s.Right - s.Left, s.Bottom - s.Top);
    return QRect(QPoint(0, 0), widgetSize);
}

QRect devicePixels(const QRect &area, qreal ratio)
{
    // The small slack keeps a product that is whole but for rounding (such
    // as 3 x 1.1) from taking in a pixel more.
    constexpr double kSlack = 1e-9;
    const int left = int(std::floor(area.left() * ratio + kSlack));
    const int top = int(std::floor(area.top() * ratio + kSlack));
    const int right = int(std::ceil((area.left() + area.width()) * ratio - kSlack));
    const int bottom = int(std::ceil((area.top() + area.height()) * ratio - kSlack));
    return QRect(left, top, right - left, bottom - top);
}

namespace {

// Each device pixel of `area` at a ratio other than 1. The widget draws
// through a painter that maps its logical pixels onto the bitmap's device
// pixels, with the bitmap's corner on a whole device pixel, so nothing is
// scaled on the way: the page's own device pixels, as the screen shows them.
QImage grabDevicePixels(QWidget *widget, const QRect &source, qreal ratio)
{
    QRect area = devicePixels(source, ratio);
    // Rounding outward stops at the frame the widget is drawn in, which is
    // its size times the ratio rounded to the nearest pixel.
    const bool inside = widget->rect().contains(source);
    if (inside)
        area &= QRect(QPoint(0, 0), widget->size() * ratio);
    if (area.width() <= 0 || area.height() <= 0)
        return QImage();
    QImage bitmap(area.size(), kCaptureFormat);
    if (bitmap.isNull())
        throw EOutOfResources(QStringLiteral("Out of system resources"));
    if (!inside) {
        bitmap.fill(Qt::black);
    } else if (ratio != std::floor(ratio)) {
        // At a fractional ratio the widget may leave its frame's last row and
        // column unpainted: black, never leftover memory.
        const QRgb black = qRgb(0, 0, 0);
        for (int x = 0; x < bitmap.width(); ++x)
            bitmap.setPixel(x, bitmap.height() - 1, black);
        for (int y = 0; y < bitmap.height(); ++y)
            bitmap.setPixel(bitmap.width() - 1, y, black);
    }
    {
        QPainter painter(&bitmap);
        painter.setTransform(QTransform(ratio, 0, 0, ratio, -area.left(), -area.top()));
        const QRect logical(
            QPoint(int(std::floor(area.left() / ratio)), int(std::floor(area.top() / ratio))),
            QPoint(int(std::ceil((area.right() + 1) / ratio)) - 1,
                   int(std::ceil((area.bottom() + 1) / ratio)) - 1));
        widget->render(&painter, logical.topLeft(), QRegion(logical & widget->rect()));
    }
    bitmap.setDevicePixelRatio(ratio);
    return bitmap;
}

// The area's device pixels read from the frame a Qt Quick widget on OpenGL
// last drew; a null image when that cannot be done.
QImage readDrawnFrame(QWidget *widget, const QRect &source, qreal ratio)
{
    if (!widget->rect().contains(source))
        return QImage();
    QuickFrameReader *reader = QuickFrameReader::over(widget);
    if (!reader)
        return QImage();
    QImage picture = reader->read(ratio == 1 ? source
                                             : devicePixels(source, ratio) &
                                                   QRect(QPoint(0, 0), widget->size() * ratio));
    if (ratio != 1 && !picture.isNull())
        picture.setDevicePixelRatio(ratio);
    return picture;
}

} // namespace

QImage grabPage(QWidget *widget, const QRect &source)
{
    if (!widget)
        throw EInvalidOperation(QStringLiteral("Canvas does not allow drawing"));
    if (source.width() <= 0 || source.height() <= 0)
        return QImage();
    const qreal ratio = widget->devicePixelRatioF();
    // Where the view is drawn by OpenGL, a capture reads just its own pixels
    // from the frame on screen instead of having the whole scene drawn and
    // read back again.
    if (QImage picture = readDrawnFrame(widget, source, ratio); !picture.isNull())
        return picture;
    if (ratio != 1)
        return grabDevicePixels(widget, source, ratio);
    QImage bitmap(source.size(), kCaptureFormat);
    if (bitmap.isNull())
        throw EOutOfResources(QStringLiteral("Out of system resources"));
    // Pixels the widget will not draw are black, never leftover memory; the
    // usual capture lies wholly inside the widget and needs no fill.
    if (!widget->rect().contains(source))
        bitmap.fill(Qt::black);

    // Drawn straight into the bitmap, in its own format: no intermediate
    // pixmap and no conversion. A grab() would hand back a premultiplied
    // pixmap of a page that is not opaque, whose conversion cost ten times
    // the copy itself at 1920 x 1080.
    widget->render(&bitmap, QPoint(0, 0), QRegion(source));
    return bitmap;
}

} // namespace framelog
