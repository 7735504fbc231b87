#pragma once

#include "capture/selection.h"

#include <QImage>
#include <QRect>
#include <QSize>

class QWidget;

namespace framelog {

// The format of a capture bitmap: the screen's 32-bit format, so a grab
// needs no conversion.
inline constexpr QImage::Format kCaptureFormat = QImage::Format_RGB32;

// The area a capture copies, in the browser widget's pixels: the active
// selection (already ordered and clamped), else the whole widget.
QRect captureSource(bool selectionActive, const TRect &selection, QSize widgetSize);

// The device pixels that the logical rectangle `area` touches at `ratio`
// device pixels to a logical one, rounded outward.
QRect devicePixels(const QRect &area, qreal ratio);

// The widget's pixels from `source` (in the widget's logical pixels), in a
// new bitmap of the device pixels they cover: the source's size at a device
// pixel ratio of 1, else the source times the ratio, rounded outward and
// kept within the widget's drawn frame. Such a bitmap carries the ratio, so
// it is drawn at the logical size with every device pixel; an encoder sees
// all of them. A zero width or height gives a null image and no error.
// Throws EInvalidOperation "Canvas does not allow drawing" when there is no
// widget, and EOutOfResources when no pixel storage can be had.
QImage grabPage(QWidget *widget, const QRect &source);

} // namespace framelog
