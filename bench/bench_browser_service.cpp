// What being a watched service costs framelog-record, with ten recipes:
// the latency of `framelog-record --status` (a process that reads the
// status files and exits), the status file's writes, and the watchdog's
// checks and pings with the status line, per second of recording.
//
//   bench_browser_service [--runs N]
#include "cpu_time.h"

#include "record/record_status.h"
#include "record/service_notifier.h"
#include "record/status_file.h"
#include "record/status_query.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace framelog;

namespace {

QList<RecipeStatus> tenRecipes()
{
    QList<RecipeStatus> recipes;
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < 10; ++i) {
        RecipeStatus recipe;
        recipe.name = QStringLiteral("camera%1").arg(i);
        recipe.state = RecipeStatus::State::Recording;
        recipe.written = 86400 + i;
        recipe.skipped = 1200;
        recipe.failed = 3;
        recipe.lastPictureAt = now;
        recipe.lastPicture = QStringLiteral("/srv/cam%1/img%2_08-12-26.jpg").arg(i).arg(86400 + i);
        recipe.lastFailureAt = now.addSecs(-3600);
        recipe.lastFailure = QStringLiteral("Cannot create file \"/srv/cam/x.jpg\". No space left");
        recipe.pageLoadedSince = now.addDays(-3);
        recipes << recipe;
    }
    return recipes;
}

struct Spread {
    double median = 0;
    double p95 = 0;
    double cpu = 0; // the query's own CPU, median
};

double median(QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

Spread spread(QList<double> ms, const QList<double> &cpu)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min<qsizetype>(ms.size() - 1, ms.size() * 95 / 100)],
            median(cpu)};
}

// CPU time of the children reaped so far.
double childrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval &t) { return double(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

Spread queryLatency(const QStringList &arguments, const QProcessEnvironment &env, int runs)
{
    QList<double> ms;
    QList<double> cpu;
    for (int i = 0; i < runs; ++i) {
        const double cpuBefore = childrenCpuMs();
        QProcess query;
        query.setProcessEnvironment(env);
        QElapsedTimer timer;
        timer.start();
        query.start(QStringLiteral(FRAMELOG_RECORD_BINARY), arguments);
        query.waitForFinished(30000);
        ms << double(timer.nsecsElapsed()) / 1e6;
        cpu << childrenCpuMs() - cpuBefore;
        if (i == 0 && query.readAllStandardOutput().count('\n') < 10)
            std::fputs("  (the query did not see the ten recipes)\n", stderr);
    }
    return spread(ms, cpu);
}

// Microseconds of this thread's CPU per call of `work`.
template <typename Work> double cpuUsPer(int calls, Work work)
{
    const double start = cpuMs();
    for (int i = 0; i < calls; ++i)
        work();
    return (cpuMs() - start) * 1000.0 / calls;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int runs = 30;
    const QStringList args = app.arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--runs")); at > 0 && at + 1 < args.size())
        runs = std::max(3, args[at + 1].toInt());

    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QList<RecipeStatus> recipes = tenRecipes();
    StatusFile file;
    if (!file.open()) {
        std::fprintf(stderr, "cannot open the status file: %s\n", qPrintable(file.error()));
        return 1;
    }
    file.write({qint64(getpid()), QDateTime::currentDateTime(), recipes});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());

    std::printf("framelog-record as a service, ten recipes (%d runs each)\n", runs);
    const Spread text = queryLatency({QStringLiteral("--status")}, env, runs);
    const Spread json =
        queryLatency({QStringLiteral("--status"), QStringLiteral("--json")}, env, runs);
    std::printf("--status          latency: median %.1f ms, p95 %.1f ms (process start to exit), "
                "its CPU %.1f ms\n",
                text.median, text.p95, text.cpu);
    std::printf("--status --json   latency: median %.1f ms, p95 %.1f ms, its CPU %.1f ms\n",
                json.median, json.p95, json.cpu);
    const double read =
        cpuUsPer(200, [] { statusReport(readRunningRecorders(), QDateTime::currentDateTime()); });
    std::printf("reading and formatting in the process: %.0f us CPU\n", read);

    // The status file at most twice a second, in the runtime folder (tmpfs
    // under systemd) with its rename and sync.
    const double write = cpuUsPer(500, [&] {
        file.write({qint64(getpid()), QDateTime::currentDateTime(), recipes});
    });
    std::printf("status file write: %.0f us CPU; at 2 writes/s %.2f ms CPU per second\n", write,
                write * 2 / 1000);

    // The watchdog: a check of ten recipes' ticks and a WATCHDOG=1 datagram
    // to a socket like systemd's, three times per WatchdogSec=60s; the
    // status line at most twice a second.
    const QString socketPath = runtime.filePath(QStringLiteral("notify"));
    const int sink = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.toLocal8Bit().constData(),
                 sizeof address.sun_path - 1);
    if (bind(sink, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        std::perror("bind");
        return 1;
    }
    qputenv("NOTIFY_SOCKET", socketPath.toLocal8Bit());
    qputenv("WATCHDOG_USEC", "60000000");
    ServiceNotifier notifier = ServiceNotifier::fromEnvironment();
    if (!notifier.enabled()) {
        std::puts("built without libsystemd: no watchdog figures");
        return 0;
    }
    QList<DueTick> ticks;
    for (int i = 0; i < 10; ++i)
        ticks << DueTick{qint64(1) << 40, 1000};
    char drain[512];
    const double ping = cpuUsPer(2000, [&] {
        if (ticksAlive(ticks, 1000))
            notifier.watchdogPing();
        [[maybe_unused]] const ssize_t n = recv(sink, drain, sizeof drain, MSG_DONTWAIT);
    });
    int variant = 0;
    const double status = cpuUsPer(2000, [&] {
        QList<RecipeStatus> changed = recipes;
        changed[0].written += ++variant; // a new line each time, as pictures come
        notifier.status(serviceStatusText(changed));
        [[maybe_unused]] const ssize_t n = recv(sink, drain, sizeof drain, MSG_DONTWAIT);
    });
    const double pingsPerSecond = 3.0 / 60.0;
    std::printf("watchdog check and ping: %.1f us CPU; %.3f per second (WatchdogSec=60s): "
                "%.4f ms CPU per second\n",
                ping, pingsPerSecond, ping * pingsPerSecond / 1000);
    std::printf("STATUS= line: %.1f us CPU; at 2 lines/s %.3f ms CPU per second\n", status,
                status * 2 / 1000);
    ::close(sink);
    return 0;
}
