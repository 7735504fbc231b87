#include "capture/quick_frame_reader.h"

#include "capture/page_capture.h"

#include <QEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWidget>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace framelog {

namespace {

constexpr GLenum kPackRowLength = 0x0D02;      // GL_PACK_ROW_LENGTH
constexpr GLenum kPixelPackBuffer = 0x88EB;    // GL_PIXEL_PACK_BUFFER
constexpr GLenum kPixelPackBinding = 0x88ED;   // GL_PIXEL_PACK_BUFFER_BINDING
constexpr GLenum kFramebufferBinding = 0x8CA6; // GL_FRAMEBUFFER_BINDING

QQuickWidget *quickWidgetOf(QWidget *widget)
{
    if (auto *quick = qobject_cast<QQuickWidget *>(widget))
        return quick;
    auto *quick = widget->findChild<QQuickWidget *>(QString(), Qt::FindDirectChildrenOnly);
    return quick && quick->geometry() == widget->rect() ? quick : nullptr;
}

bool drawsWithOpenGL(QQuickWidget *quick)
{
    const QSGRendererInterface *renderer = quick->quickWindow()->rendererInterface();
    return renderer && renderer->graphicsApi() == QSGRendererInterface::OpenGL;
}

void clearErrors(QOpenGLFunctions *gl)
{
    for (int i = 0; i < 16 && gl->glGetError() != GL_NO_ERROR; ++i) {
    }
}

} // namespace

QuickFrameReader *QuickFrameReader::over(QWidget *widget)
{
    QQuickWidget *quick = quickWidgetOf(widget);
    if (!quick || !drawsWithOpenGL(quick))
        return nullptr;
    if (auto *reader = quick->findChild<QuickFrameReader *>(QString(), Qt::FindDirectChildrenOnly))
        return reader;
    return new QuickFrameReader(quick);
}

QuickFrameReader::QuickFrameReader(QQuickWidget *quick) : QObject(quick), m_quick(quick)
{
    // Emitted on the thread that draws, which for a Quick widget is the
    // window thread, while the frame's framebuffer is bound.
    connect(quick->quickWindow(), &QQuickWindow::afterRenderPassRecording, this,
            &QuickFrameReader::frameRecorded, Qt::DirectConnection);
    connect(
        quick->quickWindow(), &QQuickWindow::sceneGraphInvalidated, this,
        [this] { m_framebuffer = 0; }, Qt::DirectConnection);
    quick->installEventFilter(this);
}

QuickFrameReader::~QuickFrameReader() = default;

bool QuickFrameReader::eventFilter(QObject *, QEvent *event)
{
    // Both make the widget set up a new framebuffer before its next frame.
    if (event->type() == QEvent::Resize || event->type() == QEvent::Hide)
        m_framebuffer = 0;
    return false;
}

void QuickFrameReader::frameRecorded()
{
    QQuickWindow *window = m_quick ? m_quick->quickWindow() : nullptr;
    QOpenGLContext *context = QOpenGLContext::currentContext();
    if (!window || !context)
        return;
    window->beginExternalCommands(); // the pass so far is issued: its target is bound
    QOpenGLFunctions *gl = context->functions();
    GLint framebuffer = 0;
    GLint viewport[4] = {};
    gl->glGetIntegerv(kFramebufferBinding, &framebuffer);
    gl->glGetIntegerv(GL_VIEWPORT, viewport);
    window->endExternalCommands();
    // Multisampled frames cannot be read directly.
    const bool readable = framebuffer > 0 && context->format().samples() <= 1;
    m_framebuffer = readable ? unsigned(framebuffer) : 0;
    m_frameSize = QSize(viewport[2], viewport[3]);
}

QImage QuickFrameReader::read(const QRect &area)
{
    m_lastRead = false;
    if (!m_quick || m_framebuffer == 0 || area.isEmpty())
        return QImage();
    const QSize frame = m_quick->size() * m_quick->devicePixelRatioF();
    if (frame != m_frameSize || !QRect(QPoint(0, 0), frame).contains(area))
        return QImage();
    QQuickWindow *window = m_quick->quickWindow();
    auto *context = static_cast<QOpenGLContext *>(window->rendererInterface()->getResource(
        window, QSGRendererInterface::OpenGLContextResource));
    if (!context)
        return QImage();

    QOpenGLContext *previous = QOpenGLContext::currentContext();
    QSurface *previousSurface = previous ? previous->surface() : nullptr;
    if (previous != context) {
        if (!m_surface) {
            m_surface = std::make_unique<QOffscreenSurface>();
            m_surface->setFormat(context->format());
            m_surface->create();
        }
        if (!context->makeCurrent(m_surface.get()))
            return QImage();
    }

    QImage picture(area.size(), QImage::Format_RGBA8888_Premultiplied);
    bool ok = !picture.isNull();
    QOpenGLFunctions *gl = context->functions();
    clearErrors(gl);
    // What the frame's own drawing may have left set is put back afterwards.
    GLint boundFramebuffer = 0, packBuffer = 0, alignment = 4, rowLength = 0;
    const bool hasPackState = !context->isOpenGLES() || context->format().majorVersion() >= 3;
    gl->glGetIntegerv(kFramebufferBinding, &boundFramebuffer);
    gl->glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    if (hasPackState) {
        gl->glGetIntegerv(kPixelPackBinding, &packBuffer);
        gl->glGetIntegerv(kPackRowLength, &rowLength);
        gl->glBindBuffer(kPixelPackBuffer, 0);
        gl->glPixelStorei(kPackRowLength, 0);
    }
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    ok = ok && gl->glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (ok) {
        // The framebuffer's rows run bottom up.
        gl->glReadPixels(area.x(), frame.height() - area.y() - area.height(), area.width(),
                         area.height(), GL_RGBA, GL_UNSIGNED_BYTE, picture.bits());
        ok = gl->glGetError() == GL_NO_ERROR;
    }
    gl->glBindFramebuffer(GL_FRAMEBUFFER, GLuint(boundFramebuffer));
    gl->glPixelStorei(GL_PACK_ALIGNMENT, alignment);
    if (hasPackState) {
        gl->glPixelStorei(kPackRowLength, rowLength);
        gl->glBindBuffer(kPixelPackBuffer, GLuint(packBuffer));
    }

    if (previous != context) {
        if (previous)
            previous->makeCurrent(previousSurface);
        else
            context->doneCurrent();
    }
    if (!ok)
        return QImage();
    m_lastRead = true;
    return std::move(picture).mirrored().convertToFormat(kCaptureFormat);
}

} // namespace framelog
