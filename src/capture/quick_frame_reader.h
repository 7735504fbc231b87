#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>

#include <memory>

class QOffscreenSurface;
class QQuickWidget;
class QWidget;

namespace framelog {

// Reads rectangles of the frame a Qt Quick widget last drew with OpenGL,
// straight from its framebuffer: a capture then costs what it reads. Asking
// the widget for its pixels (QWidget::render) would draw the whole scene
// again and read all of it back, however small the rectangle.
//
// The framebuffer is the one bound while the widget's last frame was drawn
// (remembered on afterRenderPassRecording); a read is refused, and the
// caller draws the usual way, until a frame of the widget's present size has
// been seen since it was last resized or hidden, and whenever OpenGL reports
// anything amiss.
class QuickFrameReader : public QObject {
    Q_OBJECT
public:
    // The reader for a widget drawn wholly by a Qt Quick widget on OpenGL
    // (itself or a child covering it), made on first use and living as long
    // as that widget; nullptr for any other widget.
    static QuickFrameReader *over(QWidget *widget);

    ~QuickFrameReader() override;

    // The device pixels `area` of the last frame, in the capture format; a
    // null image when they cannot be read that way.
    QImage read(const QRect &area);

    // Whether the last read came from the framebuffer (for benchmarks).
    bool lastReadFromFrame() const { return m_lastRead; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit QuickFrameReader(QQuickWidget *quick);
    void frameRecorded();

    QPointer<QQuickWidget> m_quick;
    std::unique_ptr<QOffscreenSurface> m_surface;
    unsigned m_framebuffer = 0; // 0: no frame seen since the last change
    QSize m_frameSize;
    bool m_lastRead = false;
};

} // namespace framelog
