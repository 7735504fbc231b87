#pragma once

#include "core/error_guard.h"

namespace framelog {

// The window program's error box: a modal critical QMessageBox captioned
// "Framelog" with one OK button, over the active window. Installed at start
// with ErrorBox::setDefaultPresenter(showErrorMessageBox).
void showErrorMessageBox(const QString &text);

} // namespace framelog
