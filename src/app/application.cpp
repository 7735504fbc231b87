#include "app/application.h"

#include "app/main_form.h"
#include "capture/file_name_pattern.h"
#include "capture/preview_form.h"
#include "core/browser_profile.h"
#include "core/echo_text.h"
#include "core/process_setup.h"
#include "core/secrets.h"
#include "settings/recipe.h"
#include "ui/error_box.h"
#include "ui/icons.h"

#ifdef FRAMELOG_HAS_BROWSER
#include "browse/web_engine_browser.h"
#endif

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include <unistd.h>

namespace framelog {

void setUpApplication()
{
    // No display name: Qt would append it to every window's title. Boxes
    // without a caption fall back to the application's name.
    QApplication::setApplicationName(kApplicationTitle);
    // The menu entry (and its icon) the desktop ties the windows to: by
    // this name on Wayland, by WM_CLASS's "Framelog" (its StartupWMClass)
    // on X11.
    QGuiApplication::setDesktopFileName(kDesktopFileName);
    QApplication::setWindowIcon(applicationIcon());
    // Closing the main window ends the program, whatever else is open
    // (the preview, a popup).
    QApplication::setQuitOnLastWindowClosed(false);
    ErrorBox::setDefaultPresenter(showErrorMessageBox);
}

#ifdef FRAMELOG_HAS_BROWSER
namespace {

const char kProgram[] = "framelog";

// One line on standard error; what the user gave in it cannot reach the
// terminal as control characters.
void say(const QString &line)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, echoText(line, 1000).toLocal8Bit().constData());
}

// While the application is made, the platform's messages are held back:
// when no display can be opened Qt ends the program with abort() and
// advice to reinstall it, and the window says why on one line instead and
// exits with 1. When the platform starts, they go out as usual.
struct HeldMessage {
    QtMsgType type;
    const char *category; // Qt's categories are static strings
    QString text;
};
QtMessageHandler g_passOn = nullptr;
QList<HeldMessage> g_held;

void passOn(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (g_passOn)
        g_passOn(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qUtf8Printable(qFormatLogMessage(type, context, message)));
}

QString displayTrouble(const QString &fatal)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral("DISPLAY and WAYLAND_DISPLAY are not set");
    for (const HeldMessage &held : std::as_const(g_held)) {
        if (held.type != QtDebugMsg && held.type != QtInfoMsg)
            return held.text.trimmed();
    }
    return fatal.trimmed().section(QLatin1Char('\n'), 0, 0);
}

void startUpMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg) {
        say(QStringLiteral("cannot open a display for the window: %1 (framelog-record records "
                           "without one)")
                .arg(displayTrouble(message)));
        std::fflush(nullptr);
        _exit(1);
    }
    if (context.category && qstrncmp(context.category, "qt.qpa", 6) == 0) {
        g_held << HeldMessage{type, context.category, message};
        return;
    }
    passOn(type, context, message);
}

void endStartUp()
{
    qInstallMessageHandler(g_passOn);
    for (const HeldMessage &held : std::exchange(g_held, {})) {
        const QMessageLogContext context(nullptr, 0, nullptr, held.category);
        passOn(held.type, context, held.text);
    }
}

void addWindowOptions(QCommandLineParser &parser)
{
    // The placeholders, in lines that fit a terminal.
    QString placeholderLines = QStringLiteral("File name placeholders:");
    qsizetype lineStart = 0;
    for (const Placeholder &p : placeholders()) {
        const QString token = QLatin1Char(' ') + p.token.toString();
        if (placeholderLines.size() - lineStart + token.size() > 78) {
            placeholderLines += QStringLiteral("\n  ");
            lineStart = placeholderLines.size();
        }
        placeholderLines += token;
    }
    parser.setApplicationDescription(
        QStringLiteral("Framelog: a web browser and a timed picture taker in one window.\n\n") +
        placeholderLines);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("recipe"),
                      QStringLiteral("Start with the values of a recipe (see framelog-record)."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("profile"),
                      QStringLiteral("Keep cookies, storage and cache in this browser profile "
                                     "(default: default)."),
                      QStringLiteral("NAME")});
    parser.addOption({QStringLiteral("private"),
                      QStringLiteral("Use no profile: keep nothing of the session.")});
    parser.addPositionalArgument(QStringLiteral("url"), QStringLiteral("The page to open."),
                                 QStringLiteral("[URL]"));
}

// The profile the window uses: --private, else --profile, else the
// recipe's, else the default one.
QString chosenProfile(const QCommandLineParser &parser, const std::optional<Recipe> &recipe)
{
    if (parser.isSet(QStringLiteral("private")))
        return kNoProfile;
    if (parser.isSet(QStringLiteral("profile"))) {
        Recipe probe;
        setRecipeValue(probe, recipe_key::profile, parser.value(QStringLiteral("profile")));
        return *probe.profile;
    }
    if (recipe && recipe->profile)
        return *recipe->profile;
    return kDefaultProfile;
}

} // namespace
#endif

int runApplication(int argc, char *argv[])
{
    setUpProcess();
#ifdef FRAMELOG_HAS_BROWSER
    // --help, --version and the recipe are read before the application
    // exists, so that they need no display; Qt's own options are known only
    // to the application, and the whole line is checked once it exists.
    std::optional<Recipe> recipe;
    QString profile;
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        QCommandLineParser early;
        addWindowOptions(early);
        early.parse(arguments);
        if (early.isSet(QStringLiteral("help"))) {
            QString help = early.helpText();
            help.replace(QLatin1String("<executable_name>"), QLatin1String(kProgram));
            std::fputs(qPrintable(help), stdout);
            return 0;
        }
        if (early.isSet(QStringLiteral("version"))) {
            std::printf("%s %s\n", kProgram, FRAMELOG_VERSION);
            return 0;
        }
        if (early.isSet(QStringLiteral("recipe"))) {
            try {
                recipe = readRecipe(early.value(QStringLiteral("recipe")));
            } catch (const ERecipe &e) {
                say(e.message());
                return 2;
            }
        }
        try {
            profile = chosenProfile(early, recipe);
        } catch (const ERecipe &e) {
            say(QStringLiteral("--") + e.message());
            return 2;
        }
    }

    WebEngineBrowser::prepareEnvironment();
    g_passOn = qInstallMessageHandler(startUpMessages);
    QApplication app(argc, argv);
    endStartUp();
    QString address;
    {
        QCommandLineParser parser;
        addWindowOptions(parser);
        if (!parser.parse(QApplication::arguments())) {
            say(parser.errorText());
            std::fprintf(stderr, "Try '%s --help'.\n", kProgram);
            return 2;
        }
        if (parser.positionalArguments().size() > 1) {
            say(QStringLiteral("unexpected argument \"%1\"")
                    .arg(echoText(withoutPassword(parser.positionalArguments().at(1)))));
            return 2;
        }
        address = parser.positionalArguments().value(0);
    }
    setUpApplication();

    // How the browser is drawn is settled before its first object exists.
    WebEngineBrowser::setUpDrawingPath();

    std::unique_ptr<TMainForm> mainForm;
    try {
        mainForm = std::make_unique<TMainForm>(new WebEngineBrowser(profile));
    } catch (const EProfile &e) {
        // Said where it was asked for, and shown to one who started the
        // window from a menu.
        say(e.message());
        guarded([] { throw; });
        return 1;
    } catch (...) {
        // The window could not be made (typically the browser): say why, and
        // do not start.
        guarded([] { throw; });
        return 1;
    }
    if (recipe)
        guarded([&] { mainForm->applyRecipe(*recipe); });
    // An address given opens at start, as a browser's does.
    if (!address.isEmpty())
        guarded([&] { mainForm->openAddress(address); });
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
