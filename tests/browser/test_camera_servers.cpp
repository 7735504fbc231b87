// Real cameras on local servers (tests/servers/camera_server.py): logins,
// a self-signed certificate, a session kept in a profile, and a camera
// that is down for a while; in the window (the real browser control, the
// dialogs' seams answering) and in framelog-record as a user runs it.
#include "browser_test.h"
#include "camera_server.h"
#include "jpeg_reader.h"

#include "core/secrets.h"
#include "settings/recipe.h"
#include "ui/elided_label.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>

#include <unistd.h>

using namespace framelog;
using namespace framelog::test;

namespace {

const QString kRecorder = QStringLiteral(FRAMELOG_RECORD_BINARY);
const QString kWindow = QStringLiteral(FRAMELOG_WINDOW_BINARY);
const QString kPassword = QStringLiteral("s3cret-Pw");

// A program of ours with the test's data and configuration folders, no
// display; its standard error read line by line.
class Run {
public:
    Run(const QString &program, const QStringList &arguments, const QString &home)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        process.setProcessEnvironment(env);
        process.setReadChannel(QProcess::StandardError);
        process.start(program, arguments);
    }
    ~Run()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    bool finish(int timeoutMs = 90000)
    {
        const bool ended = process.waitForFinished(timeoutMs);
        read();
        return ended && process.exitStatus() == QProcess::NormalExit;
    }
    // Waits for a line matching `pattern`; its index, or -1.
    qsizetype waitFor(const QRegularExpression &pattern, int timeoutMs = 60000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            for (qsizetype i = 0; i < lines.size(); ++i)
                if (pattern.match(lines[i]).hasMatch())
                    return i;
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return -1;
            process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
            read();
        }
    }
    QString all() const { return lines.join(u'\n'); }

    QProcess process;
    QStringList lines;

private:
    void read()
    {
        m_partial += QString::fromLocal8Bit(process.readAllStandardError());
        const qsizetype end = m_partial.lastIndexOf(u'\n');
        if (end < 0)
            return;
        lines << m_partial.left(end).split(u'\n');
        m_partial = m_partial.mid(end + 1);
    }
    QString m_partial;
};

// A picture line of the recorder ("... #3 /path (12 ms)").
const QRegularExpression kPictureLine(QStringLiteral(R"( #\d+ (.*) \(\d+ ms\)$)"));

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// The middle pixel of a written picture.
QRgb middleOf(const QString &path)
{
    const QImage picture = decodeJpeg(readWholeFile(path).value_or(QByteArray()));
    return picture.isNull() ? 0 : picture.pixel(picture.width() / 2, picture.height() / 2);
}

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) < 8 && qAbs(qGreen(a) - qGreen(b)) < 8 &&
           qAbs(qBlue(a) - qBlue(b)) < 8;
}

} // namespace

class TestCameraServers : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void windowLogsIn_data();
    void windowLogsIn();
    void windowCancelShowsTheServersAnswer();
    void windowAsksAboutACertificate();
    void recorderLogsIn_data();
    void recorderLogsIn();
    void recorderPinsACertificate();
    void sessionKeptInAProfile();
    void cameraDownThenUp_data();
    void cameraDownThenUp();
    void windowOpensTheAddressGiven();

private:
    QString folder(const QString &name)
    {
        QDir(dir.path()).mkpath(name);
        return dir.filePath(name);
    }
    QString passwordFile(const QString &password)
    {
        const QString path = dir.filePath(QStringLiteral("password"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write the password file");
        file.write(password.toUtf8() + "\n");
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }
    QTemporaryDir dir;
};

void TestCameraServers::initTestCase()
{
    QVERIFY(dir.isValid());
    // The profiles and remembered certificates of this test, in- and
    // out-of-process, never the user's.
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
}

void TestCameraServers::windowLogsIn_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("Basic") << "/basic"
                           << "Camera basic";
    QTest::newRow("Digest") << "/digest"
                            << "Camera digest";
}

void TestCameraServers::windowLogsIn()
{
    QFETCH(QString, path);
    QFETCH(QString, title);
    CameraServer server({"--password", kPassword});
    QVERIFY(server.ready());
    TMainForm form(new WebEngineBrowser);
    QList<AuthChallenge> asked;
    // A wrong password first: the dialog comes again, naming the failure.
    form.loginAsker = [&](AuthChallenge &challenge) {
        asked << challenge;
        challenge.user = QStringLiteral("cam");
        challenge.password = challenge.refused == 0 ? QStringLiteral("wrong") : kPassword;
        return true;
    };
    form.WebBrowser->Navigate(server.url(path));
    QTRY_COMPARE_WITH_TIMEOUT(form.WebBrowser->LocationName(), title, 30000);
    QCOMPARE(asked.size(), 2);
    QCOMPARE(asked[0].host, server.url(QString()).section(u'/', 2, 2));
    QCOMPARE(asked[0].realm, QStringLiteral("camera"));
    QCOMPARE(asked[0].refused, 0);
    QCOMPARE(asked[1].refused, 1);
    QVERIFY(!asked[0].proxy);
    QCOMPARE(form.WebBrowser->ErrorText(), QString());
}

void TestCameraServers::windowCancelShowsTheServersAnswer()
{
    CameraServer server;
    QVERIFY(server.ready());
    TMainForm form(new WebEngineBrowser);
    int asked = 0;
    form.loginAsker = [&](AuthChallenge &) {
        ++asked;
        return false;
    };
    form.WebBrowser->Navigate(server.url(QStringLiteral("/basic")));
    // The server's own 401 page, and the status bar says the load failed.
    QTRY_COMPARE_WITH_TIMEOUT(form.WebBrowser->LocationName(), QStringLiteral("Login refused"),
                              30000);
    QTRY_VERIFY_WITH_TIMEOUT(form.statusText().startsWith(QStringLiteral("Failed to load ")),
                             10000);
    QVERIFY2(form.statusText().contains(QStringLiteral(": HTTP 401")),
             qPrintable(form.statusText()));
    QCOMPARE(asked, 1);
}

void TestCameraServers::windowAsksAboutACertificate()
{
    CameraServer server({"--self-signed", folder(QStringLiteral("tls"))});
    QVERIFY(server.ready());
    const QString address = server.url(QStringLiteral("/"), QStringLiteral("https"));
    const QString shown = fingerprintText(QByteArray::fromHex(server.fingerprint()));
    QList<CertificateFacts> asked;
    bool answer = false;
    const auto open = [&](TMainForm &form) {
        form.certificateAsker = [&](const CertificateFacts &facts) {
            asked << facts;
            return answer;
        };
        form.WebBrowser->Navigate(address);
    };
    {
        // Go back: the load fails, naming the certificate.
        TMainForm form(new WebEngineBrowser);
        open(form);
        QTRY_VERIFY_WITH_TIMEOUT(!form.WebBrowser->ErrorText().isEmpty(), 30000);
        QVERIFY2(form.WebBrowser->ErrorText().contains(shown),
                 qPrintable(form.WebBrowser->ErrorText()));
        QTRY_VERIFY_WITH_TIMEOUT(form.statusText().contains(shown), 10000);
        QCOMPARE(asked.size(), 1);
        const CertificateFacts &facts = asked[0];
        QCOMPARE(fingerprintText(facts.sha256), shown);
        QCOMPARE(facts.host, server.url(QString()).section(u'/', 2, 2));
        QCOMPARE(facts.subject, QStringLiteral("localhost"));
        QCOMPARE(facts.issuer, QStringLiteral("localhost"));
        QVERIFY(facts.validFrom.isValid() && facts.validFrom < facts.validUntil);
        QVERIFY(!facts.error.isEmpty());
        // Continue: the page.
        answer = true;
        form.WebBrowser->Navigate(address);
        QTRY_COMPARE_WITH_TIMEOUT(form.WebBrowser->LocationName(), QStringLiteral("Camera"), 30000);
        QCOMPARE(asked.size(), 2);
    }
    {
        // The next start goes to the page without asking.
        answer = false;
        TMainForm form(new WebEngineBrowser);
        open(form);
        QTRY_COMPARE_WITH_TIMEOUT(form.WebBrowser->LocationName(), QStringLiteral("Camera"), 30000);
        QCOMPARE(asked.size(), 2);
    }
}

void TestCameraServers::recorderLogsIn_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("title"); // empty: refused
    QTest::newRow("Basic") << "/basic" << kPassword << "Camera basic";
    QTest::newRow("Digest") << "/digest" << kPassword << "Camera digest";
    QTest::newRow("Basic, wrong password") << "/basic"
                                           << "wrong-Pw"
                                           << "";
    QTest::newRow("Digest, wrong password") << "/digest"
                                            << "wrong-Pw"
                                            << "";
}

void TestCameraServers::recorderLogsIn()
{
    QFETCH(QString, path);
    QFETCH(QString, password);
    QFETCH(QString, title);
    CameraServer server({"--password", kPassword});
    QVERIFY(server.ready());
    const QString pictures =
        folder(QStringLiteral("login-%1").arg(QTest::currentDataTag()).remove(u' ').remove(u','));
    const QStringList arguments = {"--url",           server.url(path),
                                   "--user",          "cam",
                                   "--password-file", passwordFile(password),
                                   "--pattern",       pictures + "/%title% %counter%.jpg",
                                   "--every",         "300ms"};
    if (title.isEmpty()) {
        // Refused: one logged failure per try, no picture, no loop, and a
        // run that wrote nothing says so in its status.
        Run run(kRecorder, arguments + QStringList{"--for", "7s"}, dir.path());
        QVERIFY(run.finish());
        QCOMPARE(run.process.exitCode(), 4);
        QCOMPARE(filesIn(pictures), QStringList());
        const QStringList failures = run.lines.filter(QStringLiteral("the login to 127.0.0.1:"));
        QVERIFY2(failures.size() >= 1 && failures.size() <= 3, qPrintable(run.all()));
        QVERIFY2(failures[0].contains(QStringLiteral("(realm \"camera\") was refused: wrong user "
                                                     "or password")),
                 qPrintable(failures[0]));
        QVERIFY2(failures[0].contains(QStringLiteral("HTTP 401")), qPrintable(failures[0]));
        // Each try answers once: the first ask and the one that refuses.
        const qsizetype asks = server.requests().filter(QStringLiteral("GET ") + path).size();
        QVERIFY2(asks <= 2 * failures.size() + 2, qPrintable(server.requests().join(u'\n')));
        QVERIFY(!run.all().contains(password));
        return;
    }
    Run run(kRecorder, arguments + QStringList{"--count", "2"}, dir.path());
    QVERIFY2(run.finish(), qPrintable(run.all()));
    QCOMPARE(run.process.exitCode(), 0);
    QCOMPARE(filesIn(pictures), QStringList({title + " 1.jpg", title + " 2.jpg"}));
    QVERIFY(near(middleOf(pictures + "/" + title + " 1.jpg"), qRgb(0, 0, 255)));
    QVERIFY(!run.all().contains(password));

    // The printed recipe names the file, not the password.
    Run print(kRecorder, arguments + QStringList{"--print-recipe"}, dir.path());
    QVERIFY(print.finish());
    const QByteArray recipe = print.process.readAllStandardOutput();
    QVERIFY(recipe.contains("password-file=" + passwordFile(password).toUtf8()));
    QVERIFY(!recipe.contains(password.toUtf8()));
}

void TestCameraServers::recorderPinsACertificate()
{
    CameraServer server({"--self-signed", folder(QStringLiteral("tls-recorder"))});
    QVERIFY(server.ready());
    const QString shown = fingerprintText(QByteArray::fromHex(server.fingerprint()));
    const QString pictures = folder(QStringLiteral("pinned"));
    const QStringList arguments = {"--url",     server.url("/", "https"),
                                   "--pattern", pictures + "/p%counter%.jpg",
                                   "--every",   "300ms"};
    {
        Run run(kRecorder, arguments + QStringList{"--for", "4s"}, dir.path());
        QVERIFY(run.finish());
        QCOMPARE(filesIn(pictures), QStringList());
        const qsizetype refused = run.waitFor(QRegularExpression(
            QStringLiteral("page failed to load: https://127.0.0.1:\\d+/ \\(untrusted certificate "
                           "\\(.+\\), SHA-256 ") +
            QRegularExpression::escape(shown) +
            QStringLiteral("; not among the recipe's trust-certificate\\); next try in 5 s \\(")));
        QVERIFY2(refused >= 0, qPrintable(run.all()));
    }
    // Trusted by its fingerprint, written as a user copies it.
    Run run(kRecorder,
            arguments + QStringList{"--trust-certificate", shown.toLower(), "--count", "1"},
            dir.path());
    QVERIFY2(run.finish(), qPrintable(run.all()));
    QCOMPARE(filesIn(pictures), QStringList{"p1.jpg"});
    QVERIFY(near(middleOf(pictures + "/p1.jpg"), qRgb(0, 255, 0)));
}

void TestCameraServers::sessionKeptInAProfile()
{
    CameraServer server;
    QVERIFY(server.ready());
    const QString pictures = folder(QStringLiteral("session"));
    const QStringList record = {"--profile", "gate",
                                "--url",     server.url("/session"),
                                "--pattern", pictures + "/%title% %counter%.jpg",
                                "--count",   "1"};
    {
        // Logged in once in the window on profile "gate"...
        auto *browser = new WebEngineBrowser(QStringLiteral("gate"));
        TMainForm form(browser);
        browser->Navigate(server.url(QStringLiteral("/session")));
        QTRY_COMPARE_WITH_TIMEOUT(browser->LocationName(), QStringLiteral("Log in"), 30000);
        browser->view()->page()->runJavaScript(
            QStringLiteral("document.getElementById('user').value = 'cam';"
                           "document.getElementById('password').value = 'secret';"
                           "document.forms[0].submit();"));
        QTRY_COMPARE_WITH_TIMEOUT(browser->LocationName(), QStringLiteral("Camera live"), 30000);

        // ...which no other program opens meanwhile.
        Run refused(kRecorder, record, dir.path());
        QVERIFY(refused.finish());
        QCOMPARE(refused.process.exitCode(), 1);
        QCOMPARE(refused.lines.last(),
                 QStringLiteral("framelog-record: profile \"gate\" is in use by %1 (process %2); "
                                "close it, or use another profile (--profile NAME) or none "
                                "(--private)")
                     .arg(QCoreApplication::applicationName())
                     .arg(getpid()));
    }
    // ...closed, and the recorder on the same profile is logged in.
    Run run(kRecorder, record, dir.path());
    QVERIFY2(run.finish(), qPrintable(run.all()));
    QCOMPARE(run.process.exitCode(), 0);
    QCOMPARE(filesIn(pictures), QStringList{"Camera live 1.jpg"});
    // Not so without the profile.
    Run without(kRecorder, QStringList(record).replaceInStrings("gate", "none"), dir.path());
    QVERIFY(without.finish());
    QCOMPARE(filesIn(pictures), QStringList({"Camera live 1.jpg", "Log in 1.jpg"}));
}

void TestCameraServers::cameraDownThenUp_data()
{
    QTest::addColumn<QStringList>("down"); // the server's options
    QTest::addColumn<QString>("reason");
    // Away for 20 s: past the third try's back-off (5, 10, 20 s), so the
    // port's opening is what brings the page back.
    QTest::newRow("not listening")
        << QStringList{"--listen-after", "20"} << "net::ERR_CONNECTION_REFUSED";
    QTest::newRow("HTTP 503") << QStringList{"--fail-for", "3"} << "HTTP 503";
}

void TestCameraServers::cameraDownThenUp()
{
    QFETCH(QStringList, down);
    QFETCH(QString, reason);
    const quint16 port = CameraServer::freePort();
    const QString pictures = folder(QStringLiteral("down ") + reason);
    const QStringList record = {"--url",     QStringLiteral("http://127.0.0.1:%1/").arg(port),
                                "--pattern", pictures + "/p%counter%.jpg",
                                "--every",   "500ms",
                                "--count",   "2"};
    CameraServer server(down + QStringList{"--port", QString::number(port)});
    // Not listening: the recorder starts first. Failing: it meets the
    // server failing, which it does for its first 3 s.
    const bool failing = down.constFirst() == u"--fail-for";
    std::unique_ptr<Run> run;
    if (!failing)
        run = std::make_unique<Run>(kRecorder, record, dir.path());
    QVERIFY(server.ready());
    QElapsedTimer sinceReady;
    sinceReady.start();
    if (failing)
        run = std::make_unique<Run>(kRecorder, record, dir.path());
    QVERIFY2(run->waitFor(kPictureLine, 120000) >= 0, qPrintable(run->all()));
    const qint64 firstPictureMs = sinceReady.elapsed() - (failing ? 3000 : 0);
    // A figure to read, not a bound to test (the machine may be busy): the
    // first try after the camera is up comes at most 5 s later here.
    qInfo("first picture %lld ms after the camera came up", firstPictureMs);
    // A port that opens is tried at once; one that answered throughout
    // keeps to the back-off.
    QCOMPARE(run->lines.filter(QStringLiteral("the camera answers again; trying now")).size(),
             failing ? 0 : 1);
    QVERIFY2(run->finish(), qPrintable(run->all()));

    // Tried again every 5 s meanwhile, each try one line with the reason;
    // the camera's own pictures only.
    const QStringList failures = run->lines.filter(QStringLiteral("page failed to load: "));
    QVERIFY2(!failures.isEmpty(), qPrintable(run->all()));
    QVERIFY2(failures[0].contains(QStringLiteral("(%1").arg(reason)) &&
                 failures[0].contains(QStringLiteral("; next try in 5 s (")),
             qPrintable(failures[0]));
    QVERIFY2(run->lines
                     .filter(QRegularExpression(
                         QStringLiteral(R"(page loaded again after \d+ s down, \d+ missed \()")))
                     .size() == 1,
             qPrintable(run->all()));
    QVERIFY2(run->lines
                     .filter(QRegularExpression(QStringLiteral(
                         R"(Run ended: 2 written, 0 failed, [1-9]\d* missed while the page )"
                         R"(was down \(1 outage, \d+ s\) \()")))
                     .size() == 1,
             qPrintable(run->all()));
    QCOMPARE(filesIn(pictures), QStringList({"p1.jpg", "p2.jpg"}));
    for (const QString &name : filesIn(pictures))
        QVERIFY(near(middleOf(pictures + "/" + name), qRgb(0, 255, 0)));
}

void TestCameraServers::windowOpensTheAddressGiven()
{
    CameraServer server;
    QVERIFY(server.ready());
    const QString address =
        server.url(QStringLiteral("/?given")).replace("http://", "http://cam:" + kPassword + "@");
    Run window(kWindow, {"--private", address}, dir.path());
    QTRY_VERIFY_WITH_TIMEOUT(server.requests().filter(QStringLiteral("GET /?given")).size() == 1,
                             30000);
    QVERIFY(window.process.state() == QProcess::Running);
    window.process.kill();
    window.finish();
    QVERIFY(!window.all().contains(kPassword));
    // Two addresses are one too many.
    Run two(kWindow, {"--private", address, address}, dir.path());
    QVERIFY(two.finish());
    QCOMPARE(two.process.exitCode(), 2);
    QVERIFY(!two.all().contains(kPassword));
}

FRAMELOG_BROWSER_TEST_MAIN(TestCameraServers)
#include "test_camera_servers.moc"
