#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace framelog {

// How the browser view is drawn: through Qt Quick's software renderer (the
// CPU draws, and a capture copies just what it asks for) or through OpenGL
// (worth it only on a real GPU). `Platform` leaves it to Qt's own settings
// (QT_QUICK_BACKEND, QMLSCENE_DEVICE), which the user has set.
enum class DrawingPath { Software, OpenGL, Platform };

struct DrawingPathChoice {
    DrawingPath path = DrawingPath::Platform;
    QString warning; // for standard error; empty when all went as asked
};

// Whether an OpenGL renderer (the GL_RENDERER text) draws on the CPU: the
// Mesa software rasterisers and an empty text (no usable OpenGL at all).
bool isSoftwareRenderer(const QByteArray &renderer);

// Picks the drawing path. `wish` is FRAMELOG_RENDERING ("software" or
// "opengl", any case; empty when unset), `qtBackendSet` whether the user set
// Qt Quick's own backend variables, and `renderer` yields the GL_RENDERER
// text of the platform's OpenGL, empty when there is none; it is called only
// when the answer depends on it, since asking costs a context switch.
DrawingPathChoice chooseDrawingPath(const QByteArray &wish, bool qtBackendSet,
                                    const std::function<QByteArray()> &renderer);

// "software", "opengl" or "platform".
QString drawingPathName(DrawingPath path);

} // namespace framelog
