#include "app/application.h"

#include "app/main_form.h"
#include "capture/preview_form.h"
#include "ui/error_box.h"
#include "ui/icons.h"

#ifdef FRAMELOG_HAS_BROWSER
#include "browse/web_engine_browser.h"
#endif

#include <QApplication>

#include <cstdio>
#include <memory>

namespace framelog {

void setUpApplication()
{
    // No display name: Qt would append it to every window's title. Boxes
    // without a caption fall back to the application's name.
    QApplication::setApplicationName(kApplicationTitle);
    QApplication::setWindowIcon(applicationIcon());
    // Closing the main window ends the program, whatever else is open
    // (the preview, a popup).
    QApplication::setQuitOnLastWindowClosed(false);
    ErrorBox::setDefaultPresenter(showErrorMessageBox);
}

int runApplication(int argc, char *argv[])
{
#ifdef FRAMELOG_HAS_BROWSER
    WebEngineBrowser::prepareEnvironment();
    QApplication app(argc, argv);
    setUpApplication();

    std::unique_ptr<TMainForm> mainForm;
    try {
        mainForm = std::make_unique<TMainForm>(new WebEngineBrowser);
    } catch (...) {
        // The window could not be made (typically the browser): say why, and
        // do not start.
        guarded([] { throw; });
        return 1;
    }
    TPreviewForm preview;
    mainForm->setPreviewForm(&preview);
    QObject::connect(mainForm.get(), &TMainForm::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    mainForm->show();
    const int code = app.exec();
    mainForm.reset();
    return code;
#else
    (void)argc;
    (void)argv;
    std::fputs("Framelog was built without its browser.\n", stderr);
    return 1;
#endif
}

} // namespace framelog
