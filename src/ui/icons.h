#pragma once

#include <QIcon>
#include <QList>

namespace framelog {

// The toolbar pictures: theme icons where the desktop has them, Qt's standard
// icons otherwise, and small drawings of our own for Area, Capture and Browse.
QList<QIcon>
standardToolbarIcons(); // 0 Back 1 Forward 2 Stop 3 Refresh 4 Home 5 Area 6 Capture 7 Browse
QIcon goButtonIcon();
QIcon applicationIcon();

} // namespace framelog
