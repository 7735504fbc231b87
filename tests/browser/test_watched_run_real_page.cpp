// Runs with the keys of pictures worth keeping, on the real browser and the
// stall-cam page: a recorder camera in this process, and the window.
#include "browser_test.h"
#include "jpeg_reader.h"

#include "record/recorder.h"
#include "settings/recipe.h"
#include "settings/timer.h"
#include "ui/directory_edit.h"

#include <QAction>
#include <QRegularExpression>
#include <QSignalSpy>

using namespace framelog;
using namespace framelog::test;

namespace {

QUrl stallCam(const QString &fragment)
{
    QUrl url = QUrl::fromLocalFile(QStringLiteral(FRAMELOG_TEST_PAGES "/stall-cam.html"));
    url.setFragment(fragment);
    return url;
}

// time stamp, what
const QRegularExpression kLine(QStringLiteral(R"(^(\S+) cam (.*) \(\d+ ms\)$)"));

// One camera's record of the stall-cam page, its log kept.
struct CameraRun {
    CameraRun(const QString &fragment, qint64 everyMs, const std::function<void(Recipe &)> &keys)
    {
        Recipe recipe;
        recipe.url = stallCam(fragment).toString();
        recipe.size = QSize(400, 300);
        recipe.everyMs = everyMs;
        recipe.reload = false;
        recipe.pattern = dir.filePath(QStringLiteral("p%counter%.jpg"));
        keys(recipe);
        auto *browser = new WebEngineBrowser;
        drawn = std::make_unique<QSignalSpy>(browser, &TBrowserControl::PageDrawn);
        loads = std::make_unique<QSignalSpy>(browser, &TBrowserControl::LoadStarted);
        camera =
            std::make_unique<RecordCamera>(RecordJob{QStringLiteral("cam"), recipe}, browser,
                                           [this](const QString &line, bool) { lines << line; });
        camera->start();
    }

    // The log's `what`s, each checked for the line's shape.
    QStringList whats() const
    {
        QStringList whats;
        for (const QString &line : lines) {
            const auto match = kLine.match(line);
            whats << (match.hasMatch() ? match.captured(2) : QStringLiteral("(bad) ") + line);
        }
        return whats;
    }
    QStringList whatsStarting(const QString &start) const
    {
        QStringList found;
        for (const QString &what : whats())
            if (what.startsWith(start))
                found << what;
        return found;
    }
    QList<QDateTime> timesOf(const QString &what) const
    {
        QList<QDateTime> times;
        for (const QString &line : lines) {
            const auto match = kLine.match(line);
            if (match.captured(2) == what)
                times << QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
        }
        return times;
    }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }

    QTemporaryDir dir;
    QStringList lines;
    std::unique_ptr<QSignalSpy> drawn;
    std::unique_ptr<QSignalSpy> loads;
    std::unique_ptr<RecordCamera> camera;
};

bool isGreen(QRgb c)
{
    return qGreen(c) > 200 && qRed(c) < 80 && qBlue(c) < 80;
}

} // namespace

class TestWatchedRunRealPage : public QObject {
    Q_OBJECT
private slots:
    void captureInAReloadWaitsForTheWholeFrame();
    void frozenCanvasWritesOnePicture();
    void stallReloadsAndHeals();
    void flatFrameStallsAndReloadsOncePerPeriod();
    void withoutKeysEveryTickIsWritten();
    void windowSkipsAndCounts();
};

void TestWatchedRunRealPage::captureInAReloadWaitsForTheWholeFrame()
{
    // Each load keeps the page busy before its first frame; the timer's
    // own ticks are an hour away, the test gives them.
    CameraRun run(QStringLiteral("change&slow=400"), 3600 * 1000,
                  [](Recipe &r) { r.waitForLoadMs = 10000; });
    QTRY_COMPARE_WITH_TIMEOUT(run.drawn->count(), 1, 20000);
    run.camera->browser()->Refresh();
    QTRY_COMPARE_WITH_TIMEOUT(run.loads->count(), 2, 20000);
    run.camera->PictureTimerTimer();
    run.camera->PictureTimerTimer(); // merged into the held one
    QCOMPARE(run.camera->taken(), qint64(0));
    QTRY_COMPARE_WITH_TIMEOUT(run.camera->taken(), qint64(1), 20000);
    run.camera->stop();
    QCOMPARE(run.files(), QStringList{"p1.jpg"});
    // The second load's page: its mark is green (the first load's red).
    QString error;
    const QImage picture = decodeJpeg(
        readWholeFile(run.dir.filePath(QStringLiteral("p1.jpg"))).value_or(QByteArray()), &error);
    QVERIFY2(!picture.isNull(), qPrintable(error));
    QVERIFY(isGreen(picture.pixel(8, 292)));
    QCOMPARE(run.whatsStarting(QStringLiteral("Page not drawn")), QStringList());
    QCOMPARE(run.whatsStarting(QStringLiteral("Run ended")),
             QStringList{"Run ended: 1 written, 0 skipped, 0 failed, no stall"});
}

void TestWatchedRunRealPage::frozenCanvasWritesOnePicture()
{
    // Frozen from its first frame; the wait keeps the first picture from
    // catching the page before that frame.
    CameraRun run(QStringLiteral("freeze=0"), 100, [](Recipe &r) {
        r.skipUnchanged = 0.0;
        r.waitForLoadMs = 10000;
    });
    QTRY_VERIFY_WITH_TIMEOUT(run.whatsStarting(QStringLiteral("unchanged, ")).size() >= 5, 20000);
    run.camera->stop();
    const QStringList skipped = run.whatsStarting(QStringLiteral("unchanged, "));
    QCOMPARE(skipped.last(), QStringLiteral("unchanged, %1 skipped").arg(skipped.size()));
    QCOMPARE(run.files(), QStringList{"p1.jpg"});
    QCOMPARE(run.camera->taken(), qint64(1));
    QCOMPARE(run.whatsStarting(QStringLiteral("#")),
             QStringList{"#1 " + run.dir.filePath(QStringLiteral("p1.jpg"))});
    QCOMPARE(run.whatsStarting(QStringLiteral("Run ended")),
             QStringList{QStringLiteral("Run ended: 1 written, %1 skipped, 0 failed, no stall")
                             .arg(skipped.size())});
}

void TestWatchedRunRealPage::stallReloadsAndHeals()
{
    // Changes for a second, then freezes; a reload cures it.
    CameraRun run(QStringLiteral("freeze=1&heal"), 150, [](Recipe &r) {
        r.stallAfterMs = 1000;
        r.onStall = Recipe::OnStall::Reload;
    });
    QTRY_VERIFY_WITH_TIMEOUT(!run.whatsStarting(QStringLiteral("Stall ended after")).isEmpty(),
                             30000);
    // Healed: pictures keep changing for more than a period after it.
    const qint64 taken = run.camera->taken();
    QTRY_VERIFY_WITH_TIMEOUT(run.camera->taken() >= taken + 10, 20000);
    run.camera->stop();
    const QStringList reports =
        run.whatsStarting(QStringLiteral("St")) + run.whatsStarting(QStringLiteral("Reloading"));
    QCOMPARE(reports.size(), 3);
    QVERIFY2(reports[0].startsWith(QStringLiteral("Stalled since ")), qPrintable(reports[0]));
    QCOMPARE(run.whatsStarting(QStringLiteral("Reloading")), QStringList{"Reloading the page"});
    QCOMPARE(run.loads->count(), 2); // the first load and the one reload
    const QStringList summary = run.whatsStarting(QStringLiteral("Run ended"));
    QCOMPARE(summary.size(), 1);
    QVERIFY2(summary[0].contains(QStringLiteral(" 0 skipped, 0 failed, 1 stall lasting ")),
             qPrintable(summary[0]));
    // Every tick wrote its picture: skipping is off.
    QCOMPARE(qint64(run.files().size()), run.camera->taken());
}

void TestWatchedRunRealPage::flatFrameStallsAndReloadsOncePerPeriod()
{
    // One flat colour on every load: the stall goes on through reloads.
    CameraRun run(QStringLiteral("flat=00ff00"), 100, [](Recipe &r) {
        r.stallAfterMs = 1000;
        r.onStall = Recipe::OnStall::Reload;
    });
    QTRY_VERIFY_WITH_TIMEOUT(run.timesOf(QStringLiteral("Reloading the page")).size() >= 3, 30000);
    run.camera->stop();
    QCOMPARE(run.whatsStarting(QStringLiteral("Stalled since ")).size(), 1);
    QCOMPARE(run.whatsStarting(QStringLiteral("Stall ended")), QStringList());
    const QList<QDateTime> reloads = run.timesOf(QStringLiteral("Reloading the page"));
    for (qsizetype i = 1; i < reloads.size(); ++i)
        QVERIFY2(reloads[i - 1].msecsTo(reloads[i]) >= 990,
                 qPrintable(QString::number(reloads[i - 1].msecsTo(reloads[i]))));
    // The last reload's load may start after the stop.
    QTRY_COMPARE_WITH_TIMEOUT(run.loads->count(), 1 + reloads.size(), 20000);
    const QStringList summary = run.whatsStarting(QStringLiteral("Run ended"));
    QCOMPARE(summary.size(), 1);
    QVERIFY2(summary[0].contains(QStringLiteral(" 1 stall lasting ")), qPrintable(summary[0]));
}

void TestWatchedRunRealPage::withoutKeysEveryTickIsWritten()
{
    CameraRun run(QStringLiteral("freeze=0"), 100, [](Recipe &) {});
    QTRY_VERIFY_WITH_TIMEOUT(run.camera->taken() >= 5, 20000);
    run.camera->stop();
    // One line and one file per tick, nothing else.
    QCOMPARE(qint64(run.files().size()), run.camera->taken());
    const QStringList whats = run.whats();
    QCOMPARE(qint64(whats.size()), run.camera->taken());
    for (qsizetype i = 0; i < whats.size(); ++i)
        QCOMPARE(whats[i], QStringLiteral("#%1 ").arg(i + 1) +
                               run.dir.filePath(QStringLiteral("p%1.jpg").arg(i + 1)));
}

void TestWatchedRunRealPage::windowSkipsAndCounts()
{
    QTemporaryDir dir;
    TMainForm form(new WebEngineBrowser);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QSignalSpy drawn(form.WebBrowser, &TBrowserControl::PageDrawn);
    Recipe recipe;
    recipe.url = stallCam(QStringLiteral("freeze=0")).toString();
    recipe.pattern = dir.filePath(QStringLiteral("w%counter%.jpg"));
    recipe.skipUnchanged = 0.0;
    form.applyRecipe(recipe);
    QVERIFY(drawn.wait(20000));
    form.PictureTimer->setInterval(100);
    const qint32 first = form.FCaptureCounter + 1;
    const QRegularExpression status(
        QStringLiteral(R"(^Capturing \(#%1\)\.\.\. (\d+) skipped$)").arg(first));
    form.CaptureTBXItem->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(status.match(form.statusText()).captured(1).toInt() >= 5, 20000);
    form.CaptureTBXItem->trigger();
    QCOMPARE(form.FCaptureCounter, first);
    QVERIFY2(status.match(form.statusText()).hasMatch(), qPrintable(form.statusText()));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
             QStringList{QStringLiteral("w%1.jpg").arg(first)});

    // A new run compares with nothing: its first picture is written.
    form.CaptureTBXItem->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(form.FCaptureCounter, first + 1, 20000);
    form.CaptureTBXItem->trigger();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

FRAMELOG_BROWSER_TEST_MAIN(TestWatchedRunRealPage)
#include "test_watched_run_real_page.moc"
