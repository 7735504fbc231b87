#include "browse/drawing_path.h"

namespace framelog {

bool isSoftwareRenderer(const QByteArray &renderer)
{
    const QByteArray r = renderer.trimmed().toLower();
    return r.isEmpty() || r.contains("llvmpipe") || r.contains("softpipe") ||
           r.contains("swrast") || r.contains("software rasterizer") ||
           r.contains("mesa offscreen");
}

DrawingPathChoice chooseDrawingPath(const QByteArray &wish, bool qtBackendSet,
                                    const std::function<QByteArray()> &renderer)
{
    const QByteArray asked = wish.trimmed().toLower();
    DrawingPathChoice choice;
    if (asked == "software") {
        choice.path = DrawingPath::Software;
        return choice;
    }
    if (asked == "opengl") {
        // Qt Quick without any OpenGL cannot show the view at all.
        if (renderer().trimmed().isEmpty()) {
            choice.path = DrawingPath::Software;
            choice.warning = QStringLiteral(
                "FRAMELOG_RENDERING=opengl: there is no OpenGL here, drawing in software");
        } else {
            choice.path = DrawingPath::OpenGL;
        }
        return choice;
    }
    if (!asked.isEmpty())
        choice.warning = QStringLiteral("FRAMELOG_RENDERING=%1 is neither software nor opengl: "
                                        "choosing by itself")
                             .arg(QString::fromLocal8Bit(wish));
    if (qtBackendSet) {
        choice.path = DrawingPath::Platform;
        return choice;
    }
    // A software OpenGL draws the page on the CPU anyway, and every capture
    // would read the whole frame back from it: the software renderer draws
    // as fast and copies only what a capture asks for.
    choice.path = isSoftwareRenderer(renderer()) ? DrawingPath::Software : DrawingPath::OpenGL;
    return choice;
}

QString drawingPathName(DrawingPath path)
{
    switch (path) {
    case DrawingPath::Software:
        return QStringLiteral("software");
    case DrawingPath::OpenGL:
        return QStringLiteral("opengl");
    case DrawingPath::Platform:
        break;
    }
    return QStringLiteral("platform");
}

} // namespace framelog
