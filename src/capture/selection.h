#pragma once

#include <QtGlobal>

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

} // namespace framelog
