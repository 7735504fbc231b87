// One recipe's record on a fake browser: when pictures start, how a page
// that fails to load is asked for again (and no picture taken meanwhile),
// logins and certificates, and the --count limit.
#include "fake_browser.h"

#include "core/length_text.h"
#include "core/secrets.h"
#include "record/recorder.h"
#include "settings/timer.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace framelog;
using namespace framelog::test;

class TestRecordCamera : public QObject {
    Q_OBJECT
private slots:
    void picturesStartOnceThePageHasLoaded();
    void aFailedPageIsAskedForAgain_data();
    void aFailedPageIsAskedForAgain();
    void noPictureWhileDown_data();
    void noPictureWhileDown();
    void loginsAreAnsweredOnce_data();
    void loginsAreAnsweredOnce();
    void certificatesTheRecipeTrusts();
    void eachCameraStopsAtItsCount();
    void aRunEndsWithWhatItWrote_data();
    void aRunEndsWithWhatItWrote();
    void aRestingCameraJudgesOnlyFreshPictures();
};

void TestRecordCamera::picturesStartOnceThePageHasLoaded()
{
    QTemporaryDir dir;
    Recipe recipe;
    recipe.url = QStringLiteral("http://camera.example/");
    recipe.everyMs = 250;
    recipe.pattern = dir.filePath(QStringLiteral("p%counter%.jpg"));
    auto *browser = new FakeBrowser;
    QStringList lines;
    RecordCamera camera({QStringLiteral("gate"), recipe}, browser,
                        [&](const QString &line, bool) { lines << line; });
    camera.start();
    QCOMPARE(browser->calls, QStringList({"Offline(0)", "Navigate(http://camera.example/)"}));
    QVERIFY(!camera.PictureTimer->Enabled());
    QCOMPARE(camera.PageTimer->Interval(), 2700000u);
    QVERIFY(camera.PageTimer->Enabled());

    emit browser->NavigateComplete2(recipe.url);
    QVERIFY(camera.PictureTimer->Enabled());
    QCOMPARE(camera.PictureTimer->Interval(), 250u);
    // The tick writes the fake page's picture under the recipe's pattern.
    camera.PictureTimerTimer();
    camera.stop(); // the picture in flight is written and logged
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("p1.jpg"))));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(
        lines[0].contains(QStringLiteral(" gate #1 ") + dir.filePath(QStringLiteral("p1.jpg"))),
        qPrintable(lines[0]));
}

void TestRecordCamera::aFailedPageIsAskedForAgain_data()
{
    QTest::addColumn<qint64>("reloadEveryMs");
    QTest::addColumn<bool>("reload");
    QTest::addColumn<QList<quint32>>("retriesMs");
    QTest::newRow("reload every 45 min: 5 s doubling")
        << qint64(2700000) << true << QList<quint32>{5000, 10000, 20000, 40000};
    QTest::newRow("reload every 10 s: at most 10 s")
        << qint64(10000) << true << QList<quint32>{5000, 10000, 10000};
    QTest::newRow("reload off: still asked for")
        << qint64(10000) << false << QList<quint32>{5000, 10000, 20000};
}

void TestRecordCamera::aFailedPageIsAskedForAgain()
{
    QFETCH(qint64, reloadEveryMs);
    QFETCH(bool, reload);
    QFETCH(QList<quint32>, retriesMs);
    Recipe recipe;
    recipe.url = QStringLiteral("http://camera.example/");
    recipe.reloadEveryMs = reloadEveryMs;
    recipe.reload = reload;
    auto *browser = new FakeBrowser;
    QStringList failures;
    RecordCamera camera({QStringLiteral("gate"), recipe}, browser,
                        [&](const QString &line, bool failure) {
                            if (failure)
                                failures << line;
                        });
    camera.start();
    browser->errorText = QStringLiteral("net::ERR_CONNECTION_REFUSED");
    for (int i = 0; i < retriesMs.size(); ++i) {
        emit browser->NavigateError(recipe.url);
        emit browser->NavigateComplete2(recipe.url);
        QCOMPARE(failures.size(), i + 1);
        QVERIFY2(
            failures[i].contains(QStringLiteral("page failed to load: http://camera.example/ "
                                                "(net::ERR_CONNECTION_REFUSED); next try in ") +
                                 lengthText(retriesMs[i])),
            qPrintable(failures[i]));
        QVERIFY(camera.PageTimer->Enabled());
        QCOMPARE(camera.PageTimer->Interval(), retriesMs[i]);
        // The retry asks for the page anew.
        browser->calls.clear();
        camera.PageTimerTimer();
        QCOMPARE(browser->calls, QStringList{"Navigate(http://camera.example/)"});
        QCoreApplication::processEvents();
    }

    // A good load: the reload interval again, and a loaded page is
    // refreshed.
    browser->errorText.clear();
    emit browser->NavigateComplete2(recipe.url);
    emit browser->PageDrawn();
    QCOMPARE(camera.PageTimer->Enabled(), reload);
    QCOMPARE(camera.PageTimer->Interval(), quint32(reloadEveryMs));
    browser->calls.clear();
    camera.PageTimerTimer();
    QCOMPARE(browser->calls, QStringList{"Refresh"});

    // A renderer that ends says nothing after its error; the page's next
    // completion is a page again, and the back-off starts anew.
    browser->errorText = QStringLiteral("the page's renderer crashed");
    emit browser->NavigateError(recipe.url);
    QCoreApplication::processEvents();
    QVERIFY2(failures.last().contains(QStringLiteral("(the page's renderer crashed); next try in "
                                                     "5 s")),
             qPrintable(failures.last()));
    QVERIFY(camera.outage().down());
    emit browser->NavigateComplete2(recipe.url);
    emit browser->PageDrawn();
    QVERIFY(!camera.outage().down());
    QCOMPARE(camera.outage().outages(), 2);
}

void TestRecordCamera::noPictureWhileDown_data()
{
    QTest::addColumn<bool>("keeps");
    QTest::addColumn<QString>("summary");
    QTest::newRow("plain") << false << "Run ended: 1 written, 0 failed";
    // Retention, the free-space floor and folders in the pattern: missed
    // ticks are neither paused nor written, and the outage ends the line.
    QTest::newRow("keeping") << true << "Run ended: 1 written, 0 failed, 0 paused, 0 removed";
}

void TestRecordCamera::noPictureWhileDown()
{
    QFETCH(bool, keeps);
    QFETCH(QString, summary);
    QTemporaryDir dir;
    qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toLocal8Bit());
    Recipe recipe;
    recipe.url = QStringLiteral("http://camera.example/");
    const QString folder = keeps ? QStringLiteral("day/") : QString();
    recipe.pattern = dir.filePath(folder + QStringLiteral("p%counter%.jpg"));
    if (keeps) {
        recipe.keepCount = 100;
        recipe.minFree = 1;
    }
    auto *browser = new FakeBrowser;
    QStringList lines;
    RecordCamera camera({QStringLiteral("gate"), recipe}, browser,
                        [&](const QString &line, bool) { lines << line; });
    camera.start();
    browser->errorText = QStringLiteral("HTTP 503");
    emit browser->NavigateError(recipe.url);
    emit browser->NavigateComplete2(recipe.url); // the server's error page
    QVERIFY(camera.PictureTimer->Enabled());
    for (int i = 0; i < 3; ++i)
        camera.PictureTimerTimer();
    QCOMPARE(camera.taken(), 0);
    QCOMPARE(camera.outage().missed(), 3);

    browser->errorText.clear();
    QCoreApplication::processEvents();
    emit browser->NavigateComplete2(recipe.url);
    // Loaded, not yet drawn: no picture of a blank page either.
    camera.PictureTimerTimer();
    QCOMPARE(camera.taken(), 0);
    emit browser->PageDrawn();
    QVERIFY2(lines.last().contains(QRegularExpression(
                 QStringLiteral(R"(page loaded again after \d+ ms down, 4 missed \(0 ms\)$)"))),
             qPrintable(lines.last()));
    // Missed ticks take no number: the first picture after is #1.
    camera.PictureTimerTimer();
    camera.stop();
    QCOMPARE(QDir(dir.filePath(folder)).entryList(QDir::Files), QStringList{"p1.jpg"});
    QVERIFY2(lines.last().contains(QRegularExpression(
                 QRegularExpression::escape(summary) +
                 QStringLiteral(R"(, 4 missed while the page was down \(1 outage, )"
                                R"(\d+ ms\) \(0 ms\)$)"))),
             qPrintable(lines.last()));
}

void TestRecordCamera::loginsAreAnsweredOnce_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("proxy");
    QTest::addColumn<int>("refused");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QString>("note"); // in the failure's line
    QTest::newRow("first ask") << "cam" << false << 0 << true << "";
    QTest::newRow("asked again: refused")
        << "cam" << false << 1 << false
        << "the login to 127.0.0.1:8080 (realm \"camera\") was refused: wrong user or password";
    QTest::newRow("no credentials")
        << "" << false << 0 << false
        << "127.0.0.1:8080 (realm \"camera\") asks for a login; the recipe has no user and "
           "password-file";
    QTest::newRow("a proxy") << "cam" << true << 0 << false
                             << "the proxy 127.0.0.1:8080 (realm \"camera\") asks for a login";
}

void TestRecordCamera::loginsAreAnsweredOnce()
{
    QFETCH(QString, user);
    QFETCH(bool, proxy);
    QFETCH(int, refused);
    QFETCH(bool, answered);
    QFETCH(QString, note);
    Recipe recipe;
    recipe.url = QStringLiteral("http://127.0.0.1:8080/");
    recipe.user = user;
    recipe.passwordFile = QStringLiteral("/run/pw");
    auto *browser = new FakeBrowser;
    QStringList lines;
    RecordCamera camera({QStringLiteral("gate"), recipe, QStringLiteral("s3cret")}, browser,
                        [&](const QString &line, bool) { lines << line; });
    camera.start();
    AuthChallenge challenge;
    challenge.url = QUrl(recipe.url);
    challenge.host = QStringLiteral("127.0.0.1:8080");
    challenge.realm = QStringLiteral("camera");
    challenge.proxy = proxy;
    challenge.refused = refused;
    emit browser->AuthenticationRequired(challenge);
    QCOMPARE(challenge.answered, answered);
    if (answered) {
        QCOMPARE(challenge.user, QStringLiteral("cam"));
        QCOMPARE(challenge.password, QStringLiteral("s3cret"));
        QVERIFY(lines.isEmpty());
        return;
    }
    browser->errorText = QStringLiteral("HTTP 401");
    emit browser->NavigateError(recipe.url);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].contains(QStringLiteral("(HTTP 401; ") + note + QStringLiteral(")")),
             qPrintable(lines[0]));
    QVERIFY(!lines[0].contains(QStringLiteral("s3cret")));
}

void TestRecordCamera::certificatesTheRecipeTrusts()
{
    const QByteArray sha = QByteArray(32, '\x5a');
    Recipe recipe;
    recipe.trustCertificates = {fingerprintText(QByteArray(32, '\x01')), fingerprintText(sha)};
    auto *browser = new FakeBrowser;
    QStringList lines;
    RecordCamera camera({QStringLiteral("gate"), recipe}, browser,
                        [&](const QString &line, bool) { lines << line; });
    CertificateFacts facts;
    facts.host = QStringLiteral("cam.example");
    facts.sha256 = sha;
    bool accept = false;
    emit browser->CertificateError(facts, accept);
    QVERIFY(accept);
    facts.sha256[0] = 0; // changed: refused
    emit browser->CertificateError(facts, accept);
    QVERIFY(!accept);
    browser->errorText = QStringLiteral("untrusted certificate (self-signed), SHA-256 ") +
                         fingerprintText(facts.sha256);
    emit browser->NavigateError(QStringLiteral("https://cam.example/"));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].contains(fingerprintText(facts.sha256) +
                               QStringLiteral("; not among the recipe's trust-certificate)")),
             qPrintable(lines[0]));
}

void TestRecordCamera::eachCameraStopsAtItsCount()
{
    QTemporaryDir dir;
    RecordPlan plan;
    plan.count = 2;
    for (const char *name : {"a", "b"}) {
        Recipe recipe;
        recipe.pattern = dir.filePath(QLatin1String(name) + QStringLiteral("%counter%.jpg"));
        plan.jobs << RecordJob{QLatin1String(name), recipe};
    }
    RecordSession session(
        plan, [](const RecordJob &) { return new FakeBrowser; }, [](const QString &, bool) {});
    session.start();
    bool finished = false;
    connect(&session, &RecordSession::finished, this, [&] { finished = true; });
    RecordCamera *a = session.cameras()[0];
    RecordCamera *b = session.cameras()[1];
    for (RecordCamera *camera : {a, b})
        emit camera->browser()->NavigateComplete2(QString());
    a->PictureTimerTimer();
    a->PictureTimerTimer();
    QVERIFY(!a->PictureTimer->Enabled());
    QVERIFY(b->PictureTimer->Enabled());
    QVERIFY(!finished);
    b->PictureTimerTimer();
    b->PictureTimerTimer();
    QVERIFY(finished);
    QVERIFY(!b->PictureTimer->Enabled() && !b->PageTimer->Enabled());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
             QStringList({"a1.jpg", "a2.jpg", "b1.jpg", "b2.jpg"}));
}

// The exit status tells a run whose every picture was written (or skipped
// as asked) from one where some failed and one that wrote none; a name
// given twice is warned of once, told per picture and counted.
void TestRecordCamera::aRunEndsWithWhatItWrote_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QStringList>("existing"); // "name/" a folder, "name" a file
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("summary"); // empty: none logged
    const QStringList none;
    // clang-format off
    QTest::newRow("every picture written") << "p%counter%.jpg" << true << none << 3 << 0 << "";
    QTest::newRow("all skipped, as asked") << "p%counter%.jpg" << false << QStringList{"p1.jpg", "p2.jpg"} << 2 << 0 << "";
    QTest::newRow("some failed") << "p%counter%.jpg" << true << QStringList{"p2.jpg/"} << 3 << 3 << "";
    // A file where the folder should be: no folder can be made there.
    QTest::newRow("none written") << "blocked/p%counter%.jpg" << true << QStringList{"blocked"} << 3 << 4 << "";
    QTest::newRow("stopped before the first") << "p%counter%.jpg" << true << none << 0 << 4 << "";
    QTest::newRow("a name given again") << "live.jpg" << true << none << 3 << 0
        << "Run ended: 3 written, 0 failed, 2 replaced";
    // clang-format on
}

void TestRecordCamera::aRunEndsWithWhatItWrote()
{
    QFETCH(QString, pattern);
    QFETCH(bool, overwrite);
    QFETCH(QStringList, existing);
    QFETCH(int, ticks);
    QFETCH(int, status);
    QFETCH(QString, summary);
    QTemporaryDir dir;
    for (const QString &name : existing) {
        if (name.endsWith(u'/'))
            QVERIFY(QDir(dir.path()).mkdir(name));
        else
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
    }
    RecordPlan plan;
    Recipe recipe;
    recipe.pattern = dir.filePath(pattern);
    recipe.overwrite = overwrite;
    plan.jobs << RecordJob{QStringLiteral("gate"), recipe};
    QStringList lines;
    RecordSession session(
        plan, [](const RecordJob &) { return new FakeBrowser; },
        [&](const QString &line, bool) { lines << line; });
    session.start();
    RecordCamera *camera = session.cameras().constFirst();
    emit camera->browser()->NavigateComplete2(QString());
    for (int i = 0; i < ticks; ++i)
        camera->PictureTimerTimer();
    session.stop();
    QCOMPARE(session.exitStatus(), status);

    const QStringList warnings = lines.filter(QStringLiteral(" gate warning: "));
    QCOMPARE(warnings.size(), pattern.contains(u'%') ? 0 : 1);
    const QStringList ended = lines.filter(QStringLiteral("Run ended: "));
    QCOMPARE(ended.size(), summary.isEmpty() ? 0 : 1);
    if (!summary.isEmpty())
        QVERIFY2(ended[0].contains(QStringLiteral(" gate ") + summary + QStringLiteral(" (")),
                 qPrintable(ended[0]));
    if (!pattern.contains(u'%')) {
        const QString name = dir.filePath(pattern);
        QVERIFY(lines.filter(QStringLiteral("#2 %1, replacing #1 ").arg(name)).size() == 1);
        QVERIFY(lines.filter(QStringLiteral("#3 %1, replacing #2 ").arg(name)).size() == 1);
    }
}

void TestRecordCamera::aRestingCameraJudgesOnlyFreshPictures()
{
    // The fake page never changes: identical pictures are skipped, unless
    // the page had not drawn since its wake, when the picture may be old
    // and is written unjudged.
    QTemporaryDir dir;
    Recipe recipe;
    recipe.everyMs = 2000;
    recipe.restBetween = true;
    recipe.skipUnchanged = 0.0;
    recipe.reload = false;
    recipe.pattern = dir.filePath(QStringLiteral("p%counter%.jpg"));
    auto *browser = new FakeBrowser;
    browser->page->resize(64, 48);
    QStringList lines;
    RecordCamera camera({QStringLiteral("gate"), recipe}, browser,
                        [&](const QString &line, bool) { lines << line; });
    QVERIFY(browser->calls.contains(QStringLiteral("AllowRest")));
    camera.start();
    emit browser->NavigateComplete2(QString());
    QVERIFY(!camera.PictureTimer->Enabled());
    // Live until the first picture, then resting.
    QVERIFY(!browser->resting);
    QTRY_COMPARE_WITH_TIMEOUT(camera.taken(), qint64(1), 10000);
    QVERIFY(browser->resting);

    const auto wakeAndTick = [&](bool drawn) {
        const qint64 before = camera.taken() + lines.filter(QStringLiteral("unchanged")).size();
        QTRY_VERIFY_WITH_TIMEOUT(!browser->resting, 10000);
        if (drawn)
            emit browser->PageAwake();
        QTRY_VERIFY_WITH_TIMEOUT(
            camera.taken() + lines.filter(QStringLiteral("unchanged")).size() > before, 10000);
    };
    wakeAndTick(false); // not drawn since its wake: written, not judged
    wakeAndTick(true);  // identical to the first: skipped
    camera.stop();
    QCOMPARE(camera.taken(), qint64(2));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"p1.jpg", "p2.jpg"}));
    QCOMPARE(lines.filter(QStringLiteral("unchanged, 1 skipped")).size(), 1);
}

QTEST_MAIN(TestRecordCamera)
#include "test_record_camera.moc"
