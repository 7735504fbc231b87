#include "record/record_application.h"

#include "core/browser_profile.h"
#include "core/echo_text.h"
#include "core/process_setup.h"
#include "core/secrets.h"
#include "record/picture_keeper.h"
#include "record/record_options.h"
#include "record/record_service.h"
#include "record/recorder.h"
#include "record/status_query.h"

#ifdef FRAMELOG_HAS_BROWSER
#include "browse/web_engine_browser.h"
#endif

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace framelog {

#ifdef FRAMELOG_HAS_BROWSER
namespace {

const char kProgram[] = "framelog-record";
constexpr qsizetype kLongestMessage = 1000;

// One line on standard error; what the user gave in it cannot reach the
// terminal as control characters.
void say(const QString &line)
{
    const QByteArray bytes = echoText(line, kLongestMessage).toLocal8Bit();
    std::fprintf(stderr, "%s: %s\n", kProgram, bytes.constData());
    std::fflush(stderr);
}

// Signals reach the event loop through a pipe: the handler only writes a
// byte, which is all a handler may safely do.
int g_signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int signal)
{
    const int saved = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

bool catchStopSignals()
{
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // SIGHUP too: a closed terminal or session ends the record as a stop does.
    for (const int stop : kStopSignals) {
        if (sigaction(stop, &action, nullptr) != 0)
            return false;
    }
    return true;
}

void restoreStopSignals()
{
    // A second signal while the recorder shuts down ends it at once.
    for (const int stop : kStopSignals)
        signal(stop, SIG_DFL);
}

// Whether Qt's warnings reach standard error: not before the record
// starts, where a refusal is one line and Qt's start-up remarks (a missing
// XDG_RUNTIME_DIR) are no one's concern, and not with --quiet.
bool g_showWarnings = false;

// What the engine says at every start on the offscreen platform, which
// has no OpenGL: it draws in software then, and pictures are the same.
bool isOffscreenRemark(const QString &message)
{
    return message.startsWith(u"WebEngineContext used before QtWebEngineCore::initialize()") ||
           message.startsWith(u"No suitable graphics backend found");
}

// Qt's and the engine's messages: warnings go to standard error with the
// program's name; chatter (debug, info, the pages' console) does not, so
// that the log stays one line per picture. A fatal one ends the recorder
// with exit code 1, as an engine that cannot start does.
void recordMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    switch (type) {
    case QtDebugMsg:
    case QtInfoMsg:
        return;
    case QtWarningMsg:
    case QtCriticalMsg:
        if (g_showWarnings && !message.trimmed().isEmpty() && !isOffscreenRemark(message))
            say(message.trimmed());
        return;
    case QtFatalMsg:
        say(QStringLiteral("cannot go on: ") + message);
        std::fflush(nullptr);
        _exit(1);
    }
}

// The engine's helper program: without it no page can be shown, and the
// engine would abort at the first page.
QString missingEngineProcess()
{
    QString path = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
    if (path.isEmpty())
        path = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) +
               QStringLiteral("/QtWebEngineProcess");
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable() ? QString() : path;
}

// --dry-run-retention: each recipe's pictures that would go, on standard
// output; how many and how much on standard error.
int printRetentionDryRun(const RecordPlan &plan)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const RecordJob &job : plan.jobs) {
        QStringList paths;
        QString summary;
        try {
            summary = retentionDryRun(job.recipe, now, paths);
        } catch (const ERetention &e) {
            say(e.message());
            return 1;
        }
        for (const QString &path : std::as_const(paths))
            std::printf("%s\n", QFile::encodeName(path).constData());
        say(job.name + QStringLiteral(": ") + summary);
    }
    std::fflush(stdout);
    return 0;
}

} // namespace
#endif

int runRecorder(int argc, char *argv[])
{
    setUpProcess();
#ifdef FRAMELOG_HAS_BROWSER
    // --status needs neither a browser nor a platform.
    if (const auto code = runStatusQuery(argc, argv))
        return *code;
    // A recorder needs no screen; a user who names a platform gets it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool asRoot = WebEngineBrowser::prepareEnvironment();
    qInstallMessageHandler(recordMessages);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QLatin1String(kProgram));
    QApplication::setApplicationVersion(QStringLiteral(FRAMELOG_VERSION));

    QCommandLineParser parser;
    addRecordOptions(parser);
    QStringList arguments;
    try {
        arguments = recordArguments(QApplication::arguments());
    } catch (const ERecipe &e) {
        say(e.message());
        return 2;
    }
    if (!parser.parse(arguments)) {
        say(parser.errorText());
        std::fprintf(stderr, "Try '%s --help'.\n", kProgram);
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(recordHelpText(parser)), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", kProgram, FRAMELOG_VERSION);
        return 0;
    }
    RecordPlan plan;
    try {
        plan = recordPlan(parser);
        if (plan.printRecipe) {
            const Recipe &recipe = plan.jobs.constFirst().recipe;
            if (withoutPassword(recipe.url) != recipe.url)
                say(QStringLiteral("the password in the url is left out; give it with user and "
                                   "password-file"));
            const QByteArray text = recipeText(recipe);
            std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
            return 0;
        }
        if (plan.dryRunRetention)
            return printRetentionDryRun(plan);
    } catch (const ERecipe &e) {
        say(e.message());
        return 2;
    }

    if (const QString missing = missingEngineProcess(); !missing.isEmpty()) {
        say(QStringLiteral("cannot start the browser engine: %1 is missing").arg(missing));
        return 1;
    }
    if (asRoot)
        say(QStringLiteral("running as root, so Chromium's sandbox is off"));
    // How the browser is drawn is settled before its first object exists.
    WebEngineBrowser::setUpDrawingPath();
    // The pages' console messages are the pages' affair.
    QLoggingCategory::setFilterRules(QStringLiteral("js.*=false\njs=false"));

    if (!catchStopSignals()) {
        say(QStringLiteral("cannot catch SIGTERM, SIGINT and SIGHUP: %1")
                .arg(QString::fromLocal8Bit(strerror(errno))));
        return 1;
    }
    QSocketNotifier stopSignals(g_signalPipe[0], QSocketNotifier::Read);

    const bool quiet = plan.quiet;
    RecordSession session(
        std::move(plan),
        [](const RecordJob &job) {
            return new WebEngineBrowser(job.recipe.profile.value_or(QString()));
        },
        [quiet](const QString &line, bool failure) {
            if (failure || !quiet) {
                const QByteArray bytes = line.toLocal8Bit();
                std::fprintf(stderr, "%s\n", bytes.constData());
                std::fflush(stderr);
            }
        });
    QObject::connect(&stopSignals, &QSocketNotifier::activated, &session, [&] {
        char byte = 0;
        while (read(g_signalPipe[0], &byte, 1) > 0) {
        }
        restoreStopSignals();
        // Ticks run whole on this thread: the picture in hand is written
        // before this runs.
        session.stop();
    });
    QObject::connect(&session, &RecordSession::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // The status file and, under systemd, readiness, status and watchdog.
    RecordService service(session, ServiceNotifier::fromEnvironment(),
                          std::make_unique<StatusFile>(), [](const QString &line, bool) {
                              std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
                          });
    g_showWarnings = !quiet;
    try {
        session.start();
        service.start();
    } catch (const ERetention &e) {
        say(QStringLiteral("cannot start: ") + e.message());
        return 1;
    } catch (const EProfile &e) {
        say(e.message());
        return 1;
    } catch (const std::exception &e) {
        say(QStringLiteral("cannot start the browser engine: ") + QString::fromLocal8Bit(e.what()));
        return 1;
    }
    const int code = app.exec();
    return code != 0 ? code : session.exitStatus();
#else
    (void)argc;
    (void)argv;
    std::fputs("framelog-record: built without its browser\n", stderr);
    return 1;
#endif
}

} // namespace framelog
