#pragma once

#include <QString>

class QWidget;

namespace framelog {

// Sets a window's title so that the window system shows exactly `title`,
// every character of it: Qt's "[*]" placeholder is escaped, and an empty
// title stays empty where Qt would put the application's name instead (X11).
// The widget's windowTitle() then holds the escaped form; shownWindowTitle()
// gives back what was set.
void setShownWindowTitle(QWidget *window, const QString &title);
QString shownWindowTitle(const QWidget *window);

} // namespace framelog
