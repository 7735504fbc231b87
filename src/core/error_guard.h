#pragma once

#include "core/exception.h"

#include <QString>

#include <functional>

namespace framelog {

// The caption of every message box and the plain window title.
inline const QString kApplicationTitle = QStringLiteral("Framelog");

// The text the error box shows for a message: a "." is appended when the
// message is not empty and its last character sorts above '.'.
QString errorBoxText(const QString &message);

// The one place where errors meet the user. Exceptions never cross Qt's event
// loop: every handler and timer tick runs inside guarded(), which hands what
// escapes to the error box. How the box looks is the program's choice: the
// window installs a modal message box (ui/error_box.h); without one the text
// goes to standard error.
class ErrorBox {
public:
    using Presenter = std::function<void(const QString &text)>;

    // Shows the box for `message` (the "." rule applied) and returns when it
    // is closed. Re-entrant: a tick may report while another box is open.
    static void show(const QString &message);

    // Number of error boxes open right now (nested modal loops).
    static int openCount();

    // The program's own box, used whenever no other presenter is set.
    static void setDefaultPresenter(Presenter presenter);
    // Tests replace the box by a recorder; pass {} to go back to the default.
    static void setPresenter(Presenter presenter);
};

// Inside a catch block: the message the error box would show for the
// exception being handled, before the "." rule.
QString currentExceptionMessage();

namespace detail {
void reportCurrentException() noexcept;
}

// Runs `f`, showing any exception it throws in the error box.
template <class F> void guarded(F &&f) noexcept
{
    try {
        std::forward<F>(f)();
    } catch (...) {
        detail::reportCurrentException();
    }
}

} // namespace framelog
