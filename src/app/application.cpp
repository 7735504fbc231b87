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

int runApplication(int argc, char *argv[])
{
#ifdef FRAMELOG_HAS_BROWSER
    WebEngineBrowser::prepareEnvironment();
    QApplication app(argc, argv);
    QApplication::setApplicationName(kApplicationTitle);
    QApplication::setApplicationDisplayName(kApplicationTitle);
    QApplication::setWindowIcon(applicationIcon());
    // Closing the main window ends the program, whatever else is open
    // (the preview, a popup).
    QApplication::setQuitOnLastWindowClosed(false);
    ErrorBox::setDefaultPresenter(showErrorMessageBox);

    // How the browser is drawn is settled before its first object exists.
    WebEngineBrowser::setUpDrawingPath();

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
