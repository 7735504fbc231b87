// framelog-record as a service sees it: under a service manager of the
// test's own it says when it is ready, keeps its status line current and
// pings the watchdog; --status reads what it records; and both programs'
// command lines point at --help.
#include "fake_service_manager.h"

#include "settings/recipe.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

using namespace framelog;
using namespace framelog::test;
using namespace std::chrono_literals;

namespace {

const QString kRecorder = QStringLiteral(FRAMELOG_RECORD_BINARY);
const QString kWindow = QStringLiteral(FRAMELOG_WINDOW_BINARY);
const QString kPage =
    QUrl::fromLocalFile(QStringLiteral(FRAMELOG_TEST_PAGES "/still.html")).toString();

// A program as a service runs it: no display, with the runtime folder and
// environment given.
QProcessEnvironment environment(const QString &runtime, const QStringList &more = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "NOTIFY_SOCKET",
                             "WATCHDOG_USEC", "WATCHDOG_PID"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    for (const QString &setting : more)
        env.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
    return env;
}

struct Output {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Output run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Output output;
    if (!process.waitForFinished(60000))
        return output;
    output.exitCode = process.exitCode();
    output.out = process.readAllStandardOutput();
    output.err = process.readAllStandardError();
    return output;
}

QJsonArray statusRecipes(const QProcessEnvironment &env)
{
    const Output status =
        run(kRecorder, {QStringLiteral("--status"), QStringLiteral("--json")}, env);
    return QJsonDocument::fromJson(status.out).object().value(QStringLiteral("recipes")).toArray();
}

qint64 writtenOf(const QJsonArray &recipes, const QString &name)
{
    for (const QJsonValue recipe : recipes)
        if (recipe.toObject().value(QStringLiteral("name")).toString() == name)
            return recipe.toObject().value(QStringLiteral("written")).toInteger();
    return -1;
}

} // namespace

class TestRecorderService : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void underAServiceManager();
    void commandLine_data();
    void commandLine();
    void helpFitsATerminal_data();
    void helpFitsATerminal();

private:
    QTemporaryDir m_dir;
};

void TestRecorderService::underAServiceManager()
{
    const QString runtime = m_dir.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString socket = m_dir.filePath(QStringLiteral("notify"));
    // Pings every 2/3 s; a machine under load is given a generous period.
    FakeServiceManager manager(socket, 6s);
    QVERIFY(manager.bound());
    QStringList recipes;
    for (const QString &name : {QStringLiteral("gate"), QStringLiteral("yard")}) {
        Recipe recipe;
        recipe.url = kPage;
        recipe.size = {320, 240};
        recipe.everyMs = 300;
        recipe.pattern = m_dir.filePath(name + QStringLiteral("%counter%.jpg"));
        recipes << m_dir.filePath(name + QStringLiteral(".ini"));
        writeRecipe(recipe, recipes.last());
    }
    const QProcessEnvironment env = environment(runtime, {QStringLiteral("NOTIFY_SOCKET=") + socket,
                                                          QStringLiteral("WATCHDOG_USEC=2000000")});
    QProcess recorder;
    recorder.setProcessEnvironment(env);
    recorder.start(kRecorder, recipes);
    QVERIFY(recorder.waitForStarted());

    // Ready once both pages are there; the status line follows the record.
    QTRY_COMPARE_WITH_TIMEOUT(manager.count("READY=1"), 1, 120000);
    QTRY_VERIFY_WITH_TIMEOUT(writtenOf(statusRecipes(env), QStringLiteral("yard")) >= 3, 60000);
    QVERIFY(manager.messages().first().startsWith("STATUS=Loading 2 recipes"));
    const auto recording = [&] {
        for (const QByteArray &message : manager.messages())
            if (message.startsWith("STATUS=Recording 2 recipes: ") &&
                !message.startsWith("STATUS=Recording 2 recipes: 0 written"))
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(recording(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(manager.count("WATCHDOG=1") >= 3, 30000);
    QCOMPARE(manager.firings(), 0);

    // --status: a line per recipe, and the same as JSON.
    const Output status = run(kRecorder, {QStringLiteral("--status")}, env);
    QCOMPARE(status.exitCode, 0);
    const QStringList lines = QString::fromLocal8Bit(status.out).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const QString prefix = QStringLiteral("[%1]: recording; ").arg(recorder.processId());
    QVERIFY2(lines[0].startsWith(QStringLiteral("gate") + prefix), qPrintable(lines[0]));
    QVERIFY2(lines[1].startsWith(QStringLiteral("yard") + prefix), qPrintable(lines[1]));
    QVERIFY(status.err.isEmpty());
    for (const QJsonValue value : statusRecipes(env)) {
        const QJsonObject recipe = value.toObject();
        QCOMPARE(recipe.value(QStringLiteral("state")).toString(), QStringLiteral("recording"));
        QCOMPARE(recipe.value(QStringLiteral("pid")).toInteger(), recorder.processId());
        QVERIFY(recipe.value(QStringLiteral("pageLoadedSince")).isString());
    }

    // SIGTERM: the manager hears that it stops, and the status goes with it.
    ::kill(pid_t(recorder.processId()), SIGTERM);
    QVERIFY(recorder.waitForFinished(30000));
    QCOMPARE(recorder.exitCode(), 0);
    QTRY_COMPARE(manager.count("STOPPING=1"), 1);
    QCOMPARE(run(kRecorder, {QStringLiteral("--status")}, env).out,
             QByteArray("No framelog-record is running.\n"));
    QCOMPARE(QDir(runtime + QStringLiteral("/framelog")).entryList(QDir::Files), QStringList());
}

void TestRecorderService::commandLine_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("errors");

    QTest::newRow("recorder, unknown option")
        << kRecorder << QStringList{"--bogus"}
        << "framelog-record: Unknown option 'bogus'.\nTry 'framelog-record --help'.\n";
    QTest::newRow("recorder, value missing")
        << kRecorder << QStringList{"--every"}
        << "framelog-record: Missing value after '--every'.\nTry 'framelog-record --help'.\n";
    QTest::newRow("recorder, --json alone")
        << kRecorder << QStringList{"--json"}
        << "framelog-record: --json goes with --status\nTry 'framelog-record --help'.\n";
    QTest::newRow("window, unknown option")
        << kWindow << QStringList{"--bogus"}
        << "framelog: Unknown option 'bogus'.\nTry 'framelog --help'.\n";
}

void TestRecorderService::commandLine()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, errors);
    // The window needs a platform to read its whole command line.
    const Output output =
        run(program, arguments,
            environment(m_dir.path(), {QStringLiteral("QT_QPA_PLATFORM=offscreen")}));
    QCOMPARE(output.exitCode, 2);
    QCOMPARE(QString::fromLocal8Bit(output.err), errors);
    QVERIFY(output.out.isEmpty());
}

void TestRecorderService::helpFitsATerminal_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("recorder") << kRecorder;
    QTest::newRow("window") << kWindow;
}

void TestRecorderService::helpFitsATerminal()
{
    QFETCH(QString, program);
    const Output help = run(program, {QStringLiteral("--help")}, environment(m_dir.path()));
    QCOMPARE(help.exitCode, 0);
    const QStringList lines = QString::fromLocal8Bit(help.out).split(u'\n');
    QVERIFY(lines.size() > 5);
    for (const QString &line : lines)
        QVERIFY2(line.size() <= 80,
                 qPrintable(QStringLiteral("%1 columns: %2").arg(line.size()).arg(line)));
}

QTEST_GUILESS_MAIN(TestRecorderService)
#include "test_recorder_service.moc"
