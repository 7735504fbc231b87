#include "capture/page_capture.h"

#include "core/exception.h"

#include <QRegion>
#include <QWidget>

namespace framelog {

QRect captureSource(bool selectionActive, const TRect &s, QSize widgetSize)
{
    if (selectionActive)
        return QRect(s.Left, s.Top, s.Right - s.Left, s.Bottom - s.Top);
    return QRect(QPoint(0, 0), widgetSize);
}

QImage grabPage(QWidget *widget, const QRect &source)
{
    if (!widget)
        throw EInvalidOperation(QStringLiteral("Canvas does not allow drawing"));
    const QSize size = source.size();
    if (size.width() <= 0 || size.height() <= 0)
        return QImage();
    QImage bitmap(size, kCaptureFormat);
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
