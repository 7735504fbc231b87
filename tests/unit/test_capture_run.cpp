// The capture run through the window, on the fake browser's known pixels:
// starting and stopping, the ticks, the files they write, errors and the
// items a run disables. The run's own rules are tested without a window in
// test_capture_run_rules.
#include "form_fixture.h"

#include "browse/address_combo_box.h"
#include "capture/whole_file.h"
#include "jpeg_reader.h"
#include "settings/timer.h"
#include "ui/directory_edit.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace framelog;
using namespace framelog::test;

namespace {

QByteArray fileBytes(const QString &path)
{
    return readWholeFile(path).value_or(QByteArray("<missing>"));
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Counts the timer events a timer receives.
class TickCounter : public QObject {
public:
    int ticks = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Timer)
            ++ticks;
        return false;
    }
};

} // namespace

class TestCaptureRun : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void ticksWriteNumberedFilesOfThePage();
    void runWithTheRealTimer();
    void overwriteOffWithAConstantName();
    void relativeNameUsesTheCurrentDirectory();
    void missingFolderReportsEveryTickAndTheRunGoesOn();
    void errorBoxLeftOpenWhileTicksWrite();
    void errorBoxLeftOpenWithTheRealTimer();
    void failedCaptureEndsTheTick();
    void emptySelectionWritesNothing();
    void itemsDuringARun();
    void browserReportsStillReachTheItemsDuringARun();
    void runFromAreaModeCapturesTheSelection();
    void startingWithoutATimer();

private:
    TMainForm &w() { return *f->form; }
    QString path(const QString &name) const { return dir->filePath(name); }
    void click(QAction *item) { item->trigger(); }
    QSize pageSize() { return w().WebBrowser->widget()->size(); }
    // Pictures are written on the writer's thread: waits for them and their
    // results.
    bool finish() { return w().captureSession().finishPictures(); }

    std::unique_ptr<FormFixture> f;
    std::unique_ptr<QTemporaryDir> dir;
};

void TestCaptureRun::init()
{
    f = std::make_unique<FormFixture>();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    QVERIFY(QTest::qWaitForWindowExposed(f->form.get()));
}

void TestCaptureRun::cleanup()
{
    f.reset();
    dir.reset();
}

void TestCaptureRun::ticksWriteNumberedFilesOfThePage()
{
    w().FileNameEdit->setText(path(QStringLiteral("shot%counter%.jpg")));
    click(w().CaptureTBXItem);
    QVERIFY(w().CaptureTBXItem->isChecked());
    QVERIFY(w().PictureTimer->Enabled());
    QCOMPARE(w().statusText(), QStringLiteral("Capturing..."));
    QCOMPARE(w().FCaptureCounter, 0); // nothing at once

    for (int i = 0; i < 3; ++i)
        w().PictureTimerTimer();
    QCOMPARE(w().statusText(), QStringLiteral("Capturing (#3)..."));
    QVERIFY(finish());

    const QByteArray expected = referenceJpeg(FakePage::picture(QRect(QPoint(), pageSize())));
    QVERIFY(!expected.isEmpty());
    for (int n = 1; n <= 3; ++n)
        QCOMPARE(fileBytes(path(QStringLiteral("shot%1.jpg").arg(n))), expected);
    QCOMPARE(w().statusText(), QStringLiteral("Capturing (#3)..."));
    QCOMPARE(w().Label5->text(), path(QStringLiteral("shot3.jpg")));

    // Stopping leaves the status, the name, the counter and the picture.
    const qint64 picture = w().FCaptureBitmap->cacheKey();
    click(w().CaptureTBXItem);
    QVERIFY(!w().CaptureTBXItem->isChecked());
    QVERIFY(!w().PictureTimer->Enabled());
    QCOMPARE(w().statusText(), QStringLiteral("Capturing (#3)..."));
    QCOMPARE(w().Label5->text(), path(QStringLiteral("shot3.jpg")));
    QCOMPARE(w().FCaptureCounter, 3);
    QCOMPARE(w().FCaptureBitmap->cacheKey(), picture);

    // A new run goes on with the numbering.
    click(w().CaptureTBXItem);
    QCOMPARE(w().statusText(), QStringLiteral("Capturing..."));
    w().PictureTimerTimer();
    QVERIFY(finish());
    QCOMPARE(fileBytes(path(QStringLiteral("shot4.jpg"))), expected);
    QCOMPARE(w().statusText(), QStringLiteral("Capturing (#4)..."));
    QVERIFY(!QFile::exists(path(QStringLiteral("shot5.jpg"))));
    QVERIFY(f->errors.messages.isEmpty());
}

void TestCaptureRun::runWithTheRealTimer()
{
    constexpr int kInterval = 150;
    w().FileNameEdit->setText(path(QStringLiteral("t%counter%.jpg")));
    w().PictureTimer->setInterval(kInterval);
    QElapsedTimer clock;
    QList<qint64> tickTimes;
    // The real tick; the third one stops the run, as a user click would.
    w().PictureTimer->setOnTimer([&](TTimer *) {
        tickTimes << clock.elapsed();
        w().PictureTimerTimer();
        if (w().FCaptureCounter == 3)
            click(w().CaptureTBXItem);
    });

    clock.start();
    click(w().CaptureTBXItem);
    QTRY_VERIFY_WITH_TIMEOUT(!w().CaptureTBXItem->isChecked(), 10000);
    QCOMPARE(tickTimes.size(), 3);
    QVERIFY2(tickTimes[0] >= kInterval - 5, qPrintable(QString::number(tickTimes[0])));
    QVERIFY(finish());
    for (int n = 1; n <= 3; ++n)
        QVERIFY(QFile::exists(path(QStringLiteral("t%1.jpg").arg(n))));
    QCOMPARE(w().statusText(), QStringLiteral("Capturing (#3)..."));

    // The second run: its first picture, number 4, one interval after the click.
    tickTimes.clear();
    w().PictureTimer->setOnTimer([&](TTimer *) {
        tickTimes << clock.elapsed();
        w().PictureTimerTimer();
        click(w().CaptureTBXItem);
    });
    clock.restart();
    click(w().CaptureTBXItem);
    QTRY_VERIFY_WITH_TIMEOUT(!w().CaptureTBXItem->isChecked(), 10000);
    QCOMPARE(tickTimes.size(), 1);
    QVERIFY2(tickTimes[0] >= kInterval - 5, qPrintable(QString::number(tickTimes[0])));
    QVERIFY(finish());
    QVERIFY(QFile::exists(path(QStringLiteral("t4.jpg"))));
    QVERIFY(!QFile::exists(path(QStringLiteral("t5.jpg"))));
    QVERIFY(f->errors.messages.isEmpty());
}

void TestCaptureRun::overwriteOffWithAConstantName()
{
    const QString name = path(QStringLiteral("constant.jpg"));
    w().TBXCheckBox2->setChecked(false);
    w().FileNameEdit->setText(name);
    click(w().CaptureTBXItem);
    w().PictureTimerTimer();
    QVERIFY(finish());
    const QByteArray first = fileBytes(name);
    QVERIFY(parseJpeg(first).ok());
    // Later ticks leave the file alone, and say nothing.
    writeFile(name, "kept");
    for (int n = 2; n <= 4; ++n) {
        w().PictureTimerTimer();
        QCOMPARE(w().FCaptureCounter, n);
        QCOMPARE(w().statusText(), QStringLiteral("Capturing (#%1)...").arg(n));
        QCOMPARE(w().Label5->text(), name);
    }
    QVERIFY(finish());
    QCOMPARE(fileBytes(name), QByteArray("kept"));
    QVERIFY(f->errors.messages.isEmpty());
    QVERIFY(w().PictureTimer->Enabled());
}

void TestCaptureRun::relativeNameUsesTheCurrentDirectory()
{
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
    const auto back = qScopeGuard([&] { QDir::setCurrent(before); });
    QVERIFY(QDir().mkdir(QStringLiteral("sub")));
    w().FileNameEdit->setText(QStringLiteral("sub/rel%counter%.jpg"));
    w().PictureTimerTimer();
    QVERIFY(finish());
    QVERIFY(parseJpeg(fileBytes(path(QStringLiteral("sub/rel1.jpg")))).ok());

    // The existence test looks in the same place.
    w().TBXCheckBox2->setChecked(false);
    w().FileNameEdit->setText(QStringLiteral("sub/rel1.jpg"));
    writeFile(path(QStringLiteral("sub/rel1.jpg")), "kept");
    w().PictureTimerTimer();
    QVERIFY(finish());
    QCOMPARE(fileBytes(path(QStringLiteral("sub/rel1.jpg"))), QByteArray("kept"));

    // The error names the full path.
    w().FileNameEdit->setText(QStringLiteral("nowhere/rel.jpg"));
    w().PictureTimerTimer();
    QVERIFY(finish());
    QCOMPARE(f->errors.messages.size(), 1);
    QVERIFY2(f->errors.messages[0].startsWith(
                 QStringLiteral("Cannot create file \"%1\". ").arg(path("nowhere/rel.jpg"))),
             qPrintable(f->errors.messages[0]));
}

void TestCaptureRun::missingFolderReportsEveryTickAndTheRunGoesOn()
{
    QStringList logged;
    w().captureSession().log = [&](const TickResult &result, const QString &line) {
        if (result.fate == TickResult::Fate::Failed)
            logged << line;
    };
    const QString name = path(QStringLiteral("missing/shot%counter%.jpg"));
    w().FileNameEdit->setText(name);
    click(w().CaptureTBXItem);
    for (int n = 1; n <= 3; ++n) {
        w().PictureTimerTimer();
        QVERIFY(finish());
        QCOMPARE(f->errors.messages.size(), n);
        const QString error =
            QStringLiteral("Cannot create file \"%1\". %2")
                .arg(path(QStringLiteral("missing/shot%1.jpg").arg(n)), systemErrorText(ENOENT));
        QCOMPARE(f->errors.messages.last(), error + QLatin1Char('.'));
        QCOMPARE(w().statusText(),
                 QStringLiteral("Capturing (#%1)... %1 failed, last: %2").arg(n).arg(error));
        QCOMPARE(logged.size(), n);
        QVERIFY2(QRegularExpression(QStringLiteral("^\\S+ Framelog #%1 failed: %2 \\(\\d+ ms\\)$")
                                        .arg(n)
                                        .arg(QRegularExpression::escape(error)))
                     .match(logged.last())
                     .hasMatch(),
                 qPrintable(logged.last()));
    }
    QVERIFY(w().CaptureTBXItem->isChecked());
    QVERIFY(w().PictureTimer->Enabled());
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("missing"))));

    // A success does not hide what went wrong; a new run starts afresh.
    QVERIFY(QDir().mkdir(path(QStringLiteral("missing"))));
    w().PictureTimerTimer();
    QVERIFY(finish());
    QVERIFY(QFile::exists(path(QStringLiteral("missing/shot4.jpg"))));
    QVERIFY(w().statusText().startsWith(QStringLiteral("Capturing (#4)... 3 failed, last: ")));
    click(w().CaptureTBXItem);
    click(w().CaptureTBXItem);
    w().PictureTimerTimer();
    QCOMPARE(w().statusText(), QStringLiteral("Capturing (#5)..."));
}

// A momentary failure at night must not stop the record until morning.
void TestCaptureRun::errorBoxLeftOpenWhileTicksWrite()
{
    QStringList logged;
    w().captureSession().log = [&](const TickResult &result, const QString &line) {
        if (result.fate == TickResult::Fate::Failed)
            logged << line;
    };
    w().FileNameEdit->setText(path(QStringLiteral("missing/shot%counter%.jpg")));
    click(w().CaptureTBXItem);
    int deepest = 0;
    f->errors.onShow = [&](const QString &) {
        deepest = std::max(deepest, ErrorBox::openCount());
        // Ticks that arrive while the box is open, and their results (the
        // box's modal loop delivers both): two more fail, then the folder
        // is back and ten write their pictures.
        for (int i = 0; i < 2; ++i) {
            w().PictureTimerTimer();
            QVERIFY(finish());
        }
        QVERIFY(QDir().mkdir(path(QStringLiteral("missing"))));
        for (int i = 0; i < 10; ++i) {
            w().PictureTimerTimer();
            QVERIFY(finish());
        }
    };
    w().PictureTimerTimer();
    QVERIFY(finish());
    QCOMPARE(f->errors.messages.size(), 1);
    QCOMPARE(deepest, 1);
    QCOMPARE(w().FCaptureCounter, 13);
    for (int n = 4; n <= 13; ++n)
        QVERIFY(parseJpeg(fileBytes(path(QStringLiteral("missing/shot%1.jpg").arg(n)))).ok());
    QCOMPARE(logged.size(), 3);
    QVERIFY(w().statusText().startsWith(QStringLiteral("Capturing (#13)... 3 failed, last: ")));

    // Once the box is closed, the next failure opens one again.
    QVERIFY(QDir(path(QStringLiteral("missing"))).removeRecursively());
    f->errors.onShow = {};
    w().PictureTimerTimer();
    QVERIFY(finish());
    QCOMPARE(f->errors.messages.size(), 2);
}

void TestCaptureRun::errorBoxLeftOpenWithTheRealTimer()
{
    w().FileNameEdit->setText(path(QStringLiteral("missing/shot%counter%.jpg")));
    w().captureSession().log = [](const TickResult &, const QString &) {};
    w().PictureTimer->setInterval(5);
    TickCounter ticks;
    w().PictureTimer->installEventFilter(&ticks);
    int deepest = 0;
    int takenWhileOpen = 0;
    f->errors.onShow = [&](const QString &) {
        deepest = std::max(deepest, ErrorBox::openCount());
        if (f->errors.messages.size() != 1)
            return;
        // Keep the first box open while the timer goes on ticking. Qt does
        // not deliver a timer's event while an earlier one is still being
        // handled, but a restarted timer (a new interval) is a new timer.
        const int counter = w().FCaptureCounter;
        const int before = ticks.ticks;
        w().PictureTimer->setInterval(6);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.ticks >= before + 3, 5000);
        takenWhileOpen = w().FCaptureCounter - counter;
    };
    click(w().CaptureTBXItem);
    QTRY_VERIFY_WITH_TIMEOUT(f->errors.messages.size() >= 2, 5000);
    click(w().CaptureTBXItem);
    QVERIFY(finish());
    QVERIFY(takenWhileOpen >= 3);
    QCOMPARE(deepest, 1);
    // Every tick took its picture and counted its failure, reported from the
    // writer's thread; boxes were fewer.
    QCOMPARE(w().captureSession().failures().count(), w().FCaptureCounter);
    QVERIFY(f->errors.messages.size() < w().FCaptureCounter);
    QVERIFY2(w().statusText().startsWith(
                 QStringLiteral("Capturing (#%1)... %1 failed, last: ").arg(w().FCaptureCounter)),
             qPrintable(w().statusText()));
}

void TestCaptureRun::failedCaptureEndsTheTick()
{
    w().FileNameEdit->setText(path(QStringLiteral("shot%counter%.jpg")));
    w().Label5->setText(QStringLiteral("before"));
    FakePage *page = f->browser->page;
    f->browser->page = nullptr; // no window to copy from
    w().PictureTimerTimer();
    f->browser->page = page;
    QCOMPARE(f->errors.messages, QStringList{QStringLiteral("Canvas does not allow drawing.")});
    QCOMPARE(w().FCaptureCounter, 1);
    QCOMPARE(w().statusText(),
             QStringLiteral("Capturing (#1)... 1 failed, last: Canvas does not allow drawing"));
    QCOMPARE(w().Label5->text(), QStringLiteral("before")); // ended before naming
    QVERIFY(QDir(dir->path()).isEmpty());

    w().PictureTimerTimer(); // the next tries again
    QVERIFY(finish());
    QVERIFY(QFile::exists(path(QStringLiteral("shot2.jpg"))));
}

void TestCaptureRun::emptySelectionWritesNothing()
{
    w().FileNameEdit->setText(path(QStringLiteral("empty.jpg")));
    w().FSelectionActive = true;
    w().FSelection = {0, 10, 0, 80};
    w().PictureTimerTimer();
    QCOMPARE(f->errors.messages, QStringList{QStringLiteral("The selected area is empty.")});
    QVERIFY(QDir(dir->path()).isEmpty());
}

void TestCaptureRun::itemsDuringARun()
{
    TMainForm &form = w();
    const QList<QAction *> items = {form.ViewGoToTBXSubmenuItem->menuAction(),
                                    form.ViewStopTBXItem,
                                    form.ViewRefreshTBXItem,
                                    form.BackTBXItem,
                                    form.ForwardTBXItem,
                                    form.StopTBXItem,
                                    form.RefreshTBXItem,
                                    form.HomeTBXItem,
                                    form.GoTBXItem,
                                    form.SelectAreaTBXItem};
    // Whatever the browser said before, stopping enables them all.
    form.BackTBXItem->setEnabled(false);
    form.ForwardTBXItem->setEnabled(false);

    click(form.CaptureTBXItem);
    for (QAction *item : items)
        QVERIFY2(!item->isEnabled(), qPrintable(item->objectName() + item->text()));
    QVERIFY(!form.AddressComboBoxItem->isEnabled());
    QVERIFY(form.CaptureTBXItem->isEnabled());

    click(form.CaptureTBXItem);
    for (QAction *item : items)
        QVERIFY2(item->isEnabled(), qPrintable(item->objectName() + item->text()));
    QVERIFY(form.AddressComboBoxItem->isEnabled());
    QVERIFY(!form.SelectAreaTBXItem->isChecked()); // area mode is not entered
}

void TestCaptureRun::browserReportsStillReachTheItemsDuringARun()
{
    click(w().CaptureTBXItem);
    QVERIFY(!w().BackTBXItem->isEnabled());
    emit f->browser->CommandStateChange(2, true);
    QVERIFY(w().BackTBXItem->isEnabled());
    emit f->browser->CommandStateChange(1, true);
    QVERIFY(w().ForwardTBXItem->isEnabled());
    f->browser->busy = true;
    emit f->browser->CommandStateChange(-1, true);
    QVERIFY(w().StopTBXItem->isEnabled());
    // The rest stay disabled until the run ends.
    QVERIFY(!w().RefreshTBXItem->isEnabled());
    QVERIFY(!w().HomeTBXItem->isEnabled());
    QVERIFY(!w().SelectAreaTBXItem->isEnabled());
}

void TestCaptureRun::runFromAreaModeCapturesTheSelection()
{
    TMainForm &form = w();
    form.FileNameEdit->setText(path(QStringLiteral("area%counter%.jpg")));
    click(form.SelectAreaTBXItem);
    QVERIFY(form.SelectAreaTBXItem->isChecked());
    form.SelectAreaPaintBoxMouseDown(Qt::LeftButton, {}, 10, 20);
    form.SelectAreaPaintBoxMouseMove({}, 60, 40);
    form.SelectAreaPaintBoxMouseUp(Qt::LeftButton, {}, 110, 70);

    click(form.CaptureTBXItem);
    QVERIFY(!form.SelectAreaTBXItem->isChecked());
    QVERIFY(!form.SelectAreaTBXItem->isEnabled());
    QCOMPARE(form.BrowserArea->childAt(QPoint(5, 5)), form.WebBrowser->widget());
    QVERIFY(!form.BackTBXItem->isEnabled()); // still disabled: the run holds them
    QVERIFY(!form.AddressComboBoxItem->isEnabled());
    QVERIFY(form.FSelectionActive);
    QCOMPARE(form.FSelection, (TRect{10, 20, 110, 70}));

    form.PictureTimerTimer();
    QVERIFY(finish());
    QCOMPARE(fileBytes(path(QStringLiteral("area1.jpg"))),
             referenceJpeg(FakePage::picture(QRect(10, 20, 100, 50))));
    QVERIFY(f->errors.messages.isEmpty());

    click(form.CaptureTBXItem);
    QVERIFY(!form.SelectAreaTBXItem->isChecked());
    QVERIFY(form.SelectAreaTBXItem->isEnabled());
    QVERIFY(form.BackTBXItem->isEnabled());
}

void TestCaptureRun::startingWithoutATimer()
{
    TTimer::setStarter([](QObject *, int) { return 0; }); // the system has none left
    const auto restore = qScopeGuard([] { TTimer::setStarter({}); });
    click(w().CaptureTBXItem);
    QCOMPARE(f->errors.messages, QStringList{QStringLiteral("Not enough timers available.")});
    // Checked and without ticks; the Area item was not reached.
    QVERIFY(w().CaptureTBXItem->isChecked());
    QVERIFY(w().CaptureTBXItem->isChecked());
    QVERIFY(!w().PictureTimer->isActive());
    QVERIFY(!w().HomeTBXItem->isEnabled());
    QVERIFY(w().SelectAreaTBXItem->isEnabled());

    click(w().CaptureTBXItem); // stops as usual
    QCOMPARE(f->errors.messages.size(), 1);
    QVERIFY(!w().CaptureTBXItem->isChecked());
    QVERIFY(!w().PictureTimer->Enabled());
    QVERIFY(w().HomeTBXItem->isEnabled());
    QVERIFY(w().SelectAreaTBXItem->isEnabled());
}

QTEST_MAIN(TestCaptureRun)
#include "test_capture_run.moc"
