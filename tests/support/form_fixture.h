#pragma once

#include "app/main_form.h"
#include "capture/preview_form.h"
#include "core/error_guard.h"
#include "fake_browser.h"

#include <QStringList>

#include <memory>

namespace framelog::test {

// Collects what the error box would show, instead of a modal box.
class ErrorRecorder {
public:
    ErrorRecorder()
    {
        ErrorBox::setPresenter([this](const QString &text) {
            messages << text;
            if (onShow)
                onShow(text);
        });
    }
    ~ErrorRecorder() { ErrorBox::setPresenter({}); }
    ErrorRecorder(const ErrorRecorder &) = delete;
    ErrorRecorder &operator=(const ErrorRecorder &) = delete;

    QStringList messages;
    // Runs while the "box" is open, e.g. to let ticks arrive meanwhile.
    std::function<void(const QString &)> onShow;
};

// The real main window on a fake browser, shown off screen, with its hidden
// preview window as the program makes it.
struct FormFixture {
    explicit FormFixture(bool show = true)
        : browser(new FakeBrowser), form(std::make_unique<TMainForm>(browser)),
          preview(std::make_unique<TPreviewForm>())
    {
        form->setPreviewForm(preview.get());
        if (show)
            form->show();
    }
    ErrorRecorder errors;
    FakeBrowser *browser;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TPreviewForm> preview; // destroyed before the window
};

} // namespace framelog::test
