// The capture run's rules without a window: the counter, the names and the
// picture's fate on disk.
#include "capture/capture_run.h"
#include "core/exception.h"
#include "jpeg_reader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace framelog;
using namespace framelog::test;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QImage picture()
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    return image;
}

} // namespace

class TestCaptureRunRules : public QObject {
    Q_OBJECT
private slots:
    void counterWraps();
    void namesUseTheCounterClockAndTitle();
    void saveOrSkip_data();
    void saveOrSkip();
};

void TestCaptureRunRules::counterWraps()
{
    CaptureRun run;
    QCOMPARE(run.counter(), 0);
    QCOMPARE(run.advance(), 1);
    run.setCounter(2147483646);
    QCOMPARE(run.advance(), 2147483647);
    QCOMPARE(run.advance(), qint32(-2147483647 - 1));
    QCOMPARE(run.counter(), qint32(-2147483647 - 1));
}

void TestCaptureRunRules::namesUseTheCounterClockAndTitle()
{
    CaptureRun run;
    run.clock = [] { return QDateTime(QDate(2026, 7, 12), QTime(14, 5, 9)); };
    run.formats = [] { return LocaleFormats(); };
    run.setCounter(41);
    run.advance();
    QCOMPARE(run.fileName(QStringLiteral("/pics/%TITLE%_%counter%_%time%.jpg"),
                          [] { return QStringLiteral("cam:1"); }),
             QStringLiteral("/pics/cam-1_42_14-05-09.jpg"));
}

void TestCaptureRunRules::saveOrSkip_data()
{
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("existing"); // "", "file", "folder", "link"
    QTest::addColumn<bool>("written");
    QTest::addColumn<bool>("fails");
    QTest::newRow("overwrite, nothing there") << true << "" << true << false;
    QTest::newRow("overwrite, a file") << true << "file" << true << false;
    QTest::newRow("overwrite, a link to a file") << true << "link" << true << false;
    QTest::newRow("keep, nothing there") << false << "" << true << false;
    QTest::newRow("keep, a file") << false << "file" << false << false;
    QTest::newRow("keep, a link to a file") << false << "link" << false << false;
    // A folder is no existing file: the save is attempted and cannot be made.
    QTest::newRow("keep, a folder") << false << "folder" << false << true;
    QTest::newRow("overwrite, a folder") << true << "folder" << false << true;
}

void TestCaptureRunRules::saveOrSkip()
{
    QFETCH(bool, overwrite);
    QFETCH(QString, existing);
    QFETCH(bool, written);
    QFETCH(bool, fails);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = dir.filePath(QStringLiteral("still.jpg"));
    const QString target = dir.filePath(QStringLiteral("target.jpg"));
    const QByteArray old("old contents");
    if (existing == QLatin1String("file"))
        writeFile(name, old);
    if (existing == QLatin1String("link")) {
        writeFile(target, old);
        QVERIFY(QFile::link(target, name));
    }
    if (existing == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(name));

    QString error;
    CaptureRun::Fate fate = CaptureRun::Fate::Skipped;
    try {
        fate = CaptureRun::save(picture(), name, overwrite);
    } catch (const Exception &e) {
        error = e.message();
    }

    if (fails) {
        const QString expected = QStringLiteral("Cannot create file \"%1\". ").arg(name);
        QVERIFY2(error.startsWith(expected), qPrintable(error));
        QVERIFY(QFileInfo(name).isDir());
        return;
    }
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(fate, written ? CaptureRun::Fate::Written : CaptureRun::Fate::Skipped);
    const QString read = existing == QLatin1String("link") ? target : name;
    const QByteArray bytes = readWholeFile(read).value_or(QByteArray("<missing>"));
    if (written)
        QVERIFY(parseJpeg(bytes).ok());
    else
        QCOMPARE(bytes, old);
}

QTEST_MAIN(TestCaptureRunRules)
#include "test_capture_run_rules.moc"
