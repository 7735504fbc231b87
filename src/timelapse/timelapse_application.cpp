#include "timelapse/timelapse_application.h"

#include "core/process_setup.h"
#include "timelapse/film_maker.h"
#include "timelapse/film_plan.h"
#include "timelapse/film_progress.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <atomic>
#include <cstdio>
#include <mutex>

#include <signal.h>
#include <unistd.h>

namespace framelog {

namespace {

const char kProgram[] = "framelog-timelapse";

std::atomic<bool> g_stop = false;

extern "C" void onStop(int)
{
    g_stop = true;
}

// Standard error, shared by the progress bar and the warnings.
class Terminal {
public:
    explicit Terminal(bool quiet) : m_quiet(quiet), m_tty(isatty(STDERR_FILENO) == 1) {}

    void say(const QString &line)
    {
        const std::lock_guard lock(m_mutex);
        clearBar();
        std::fprintf(stderr, "%s: %s\n", kProgram, line.toLocal8Bit().constData());
        std::fflush(stderr);
    }

    void progress(const FilmProgress &p)
    {
        if (m_quiet)
            return;
        const std::lock_guard lock(m_mutex);
        const bool last = p.done == p.total;
        if (m_tty) {
            // At most ten times a second, and the last one always.
            if (!last && m_shown.isValid() && m_shown.elapsed() < 100)
                return;
            m_shown.start();
            const QByteArray bar = filmProgressBar(p).toLocal8Bit();
            std::fprintf(stderr, "\r%s\x1b[K", bar.constData());
            m_barShown = true;
            if (last) {
                std::fputc('\n', stderr);
                m_barShown = false;
            }
        } else {
            // A plain line at each tenth.
            const qint64 tenth = p.total > 0 ? p.done * 10 / p.total : 10;
            if (tenth == m_tenth && !last)
                return;
            if (last && m_tenth == 10)
                return;
            m_tenth = tenth;
            std::fprintf(stderr, "%s: %s\n", kProgram,
                         filmProgressLine(p).toLocal8Bit().constData());
        }
        std::fflush(stderr);
    }

    void endBar()
    {
        const std::lock_guard lock(m_mutex);
        clearBar();
    }

private:
    void clearBar()
    {
        if (m_barShown) {
            std::fputs("\r\x1b[K", stderr);
            m_barShown = false;
        }
    }

    std::mutex m_mutex;
    bool m_quiet;
    bool m_tty;
    bool m_barShown = false;
    qint64 m_tenth = -1;
    QElapsedTimer m_shown;
};

const char *codecText(FilmCodec codec)
{
    switch (codec) {
    case FilmCodec::H264:
        return "H.264";
    case FilmCodec::VP9:
        return "VP9";
    case FilmCodec::AV1:
        return "AV1";
    }
    return "";
}

} // namespace

int runTimelapse(int argc, char *argv[])
{
    setUpProcess();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(kProgram));
    QCoreApplication::setApplicationVersion(QStringLiteral(FRAMELOG_VERSION));
    QCommandLineParser parser;
    addFilmOptions(parser);
    const auto fail = [](const QString &why, int code) {
        std::fprintf(stderr, "%s: %s\n", kProgram, why.toLocal8Bit().constData());
        return code;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText(), 2);
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", kProgram, FRAMELOG_VERSION);
        return 0;
    }

    FilmPlan plan;
    std::vector<FilmPicture> pictures;
    try {
        plan = filmPlan(parser);
        pictures = filmPictures(plan);
    } catch (const EFilmInput &e) {
        return fail(e.message(), 2);
    }
    if (pictures.empty())
        return fail(
            QStringLiteral("no pictures found in %1%2")
                .arg(parser.positionalArguments().first(),
                     plan.from || plan.to ? QStringLiteral(" between --from and --to") : QString()),
            2);

    struct sigaction action = {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    Terminal terminal(plan.quiet);
    FilmHooks hooks;
    hooks.stop = &g_stop;
    hooks.warn = [&](const QString &path, const QString &why) {
        terminal.say(QStringLiteral("skipped %1: %2").arg(path, why));
    };
    hooks.progress = [&](const FilmProgress &p) { terminal.progress(p); };
    FilmResult result;
    try {
        result = makeFilm(plan, pictures, hooks);
    } catch (const EFilmInput &e) {
        terminal.endBar();
        return fail(e.message(), 2);
    } catch (const EFilm &e) {
        terminal.endBar();
        return fail(e.message(), g_stop ? 130 : 1);
    }
    terminal.endBar();
    if (!plan.quiet || result.skipped > 0)
        terminal.say(QStringLiteral("wrote %1: %2 pictures, %3x%4, %5 at %6 fps, %7 s; %8 skipped")
                         .arg(plan.output)
                         .arg(result.frames)
                         .arg(result.size.width())
                         .arg(result.size.height())
                         .arg(QLatin1String(codecText(plan.codec)))
                         .arg(plan.fps)
                         .arg(double(result.frames) / plan.fps, 0, 'f', 2)
                         .arg(result.skipped));
    if (plan.timings) {
        const FilmTimings &t = result.timings;
        terminal.say(QStringLiteral("timings: wall %1 s; CPU: read and decode %2 s, scale %3 s, "
                                    "encode and write %4 s")
                         .arg(t.wallS, 0, 'f', 2)
                         .arg(t.readAndDecodeS, 0, 'f', 2)
                         .arg(t.scaleS, 0, 'f', 2)
                         .arg(t.encodeS, 0, 'f', 2));
    }
    return 0;
}

} // namespace framelog
