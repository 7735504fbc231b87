#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QtGlobal>

class QPainter;

namespace framelog {

// A rectangle as the selection holds it: four signed 32-bit edges, Right and
// Bottom exclusive. Unlike QRect it may be unordered while a drag runs.
struct TRect {
    qint32 Left = 0;
    qint32 Top = 0;
    qint32 Right = 0;
    qint32 Bottom = 0;
    friend bool operator==(const TRect &, const TRect &) = default;
};

// Decides whether `selection` is in force and, when it is, orders its edges
// and clamps them to 0..width and 0..height. The decision is taken on the
// rectangle as it comes in, before clamping, so a rectangle that clamping
// squeezes to nothing stays in force. One that is not in force (zero width or
// height) is left exactly as the pointer made it.
bool normalizeSelection(TRect &selection, int width, int height);

// The pixels of the selection's dotted frame: every other pixel of its
// one-pixel border, each pixel once, so that drawing the frame a second time
// by exclusive-or removes it. Empty for a rectangle of zero width or height.
QList<QPoint> selectionFramePoints(const TRect &selection);

// The four one-pixel strips the frame lies on; a repaint of this region is
// all it takes to remove or show the frame.
QRegion selectionFrameRegion(const TRect &selection);

// Draws the frame by inverting the pixels under its dots; a second drawing
// restores them.
void drawSelectionFrame(QPainter &painter, const TRect &selection);

} // namespace framelog
