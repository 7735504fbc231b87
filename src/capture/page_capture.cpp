#include "capture/page_capture.h"

#include "ui/exception.h"

#include <QPainter>
#include <QPixmap>
#include <QWidget>

namespace framelog {

QRect captureSource(bool selectionActive, const TRect &s, QSize widgetSize)
{
    if (selectionActive)
        return QRect(s.Left, s.Top, s.Right - s.Left, s.Bottom - s.Top);
    return QRect(QPoint(0, 0), widgetSize);
}

void grabWidgetArea(QWidget *widget, const QRect &source, QImage &bitmap)
{
    bitmap = QImage();
    const QSize size = source.size();
    if (size.width() > 0 && size.height() > 0) {
        bitmap = QImage(size, kCaptureFormat);
        if (bitmap.isNull())
            throw EOutOfResources(QStringLiteral("Out of system resources"));
        bitmap.fill(Qt::black);
    }
    if (!widget)
        throw EInvalidOperation(QStringLiteral("Canvas does not allow drawing"));
    if (bitmap.isNull())
        return;

    const QPixmap grabbed = widget->grab(source);
    if (grabbed.isNull())
        throw EInvalidOperation(QStringLiteral("Canvas does not allow drawing"));
    QImage pixels = grabbed.toImage();
    if (pixels.size() == size && pixels.format() == kCaptureFormat) {
        bitmap = std::move(pixels); // the common case: no copy, no conversion
        return;
    }
    // A grab clipped at the widget's edge, or taken at another pixel ratio:
    // copy 1:1 into the sized bitmap, the rest stays as it was made.
    pixels.setDevicePixelRatio(1.0);
    QPainter painter(&bitmap);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (pixels.size() == size || grabbed.devicePixelRatio() == 1.0)
        painter.drawImage(QPoint(0, 0), pixels);
    else
        painter.drawImage(QRect(QPoint(0, 0), size), pixels);
}

} // namespace framelog
