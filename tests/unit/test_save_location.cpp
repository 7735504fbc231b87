#include "settings/save_location.h"
#include "ui/folder_rules.h"

#include <QDir>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

using namespace framelog;

namespace {

// A file system of named folders and files, for the decisions alone.
PathTest oneOf(const QStringList &paths)
{
    const QSet<QString> set(paths.begin(), paths.end());
    return [set](const QString &path) { return set.contains(path); };
}

QString inCurrentDir(const QString &relative)
{
    return QDir::cleanPath(QDir::currentPath() + QLatin1Char('/') + relative);
}

} // namespace

class TestSaveLocation : public QObject {
    Q_OBJECT
private slots:
    void splitAndJoin_data();
    void splitAndJoin();
    void startFolder_data();
    void startFolder();
    void dropped_data();
    void dropped();
    void browse_data();
    void browse();
};

// The parts the dialog handlers take apart and put together again.
void TestSaveLocation::splitAndJoin_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("namePart");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("joined");

    QTest::newRow("no folder") << "img%time%.jpg"
                               << "img%time%.jpg"
                               << "/data/webcam"
                               << "/data/webcam/img%time%.jpg";
    QTest::newRow("root chosen") << "/old/img%time%.jpg"
                                 << "img%time%.jpg"
                                 << "/"
                                 << "/img%time%.jpg";
    QTest::newRow("folder only") << "/old/"
                                 << ""
                                 << "/data/webcam"
                                 << "/data/webcam/";
    QTest::newRow("chosen with slash") << "a/b/c.jpg"
                                       << "c.jpg"
                                       << "/data/"
                                       << "/data/c.jpg";
    QTest::newRow("backslash is a name character") << "C:\\x\\y.jpg"
                                                   << "C:\\x\\y.jpg"
                                                   << "/m"
                                                   << "/m/C:\\x\\y.jpg";
    QTest::newRow("empty folder keeps the name") << "x.jpg"
                                                 << "x.jpg"
                                                 << ""
                                                 << "x.jpg";
    QTest::newRow("empty") << ""
                           << ""
                           << "/"
                           << "/";
}

void TestSaveLocation::splitAndJoin()
{
    QFETCH(QString, pattern);
    QFETCH(QString, namePart);
    QFETCH(QString, chosen);
    QFETCH(QString, joined);
    QCOMPARE(fileNamePart(pattern), namePart);
    QCOMPARE(joinFolderAndName(chosen, namePart), joined);
}

void TestSaveLocation::startFolder_data()
{
    QTest::addColumn<QString>("startText");
    QTest::addColumn<QString>("initialDir");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("expected");

    const QStringList disk{"/",     "/data/", "/data", "/data/webcam/", "/data/webcam",
                           "pics/", "pics"};
    QTest::newRow("all empty") << ""
                               << "" << disk << "/";
    QTest::newRow("all empty, no root") << ""
                                        << "" << QStringList() << "/";
    QTest::newRow("existing folder") << "/data/webcam"
                                     << "" << disk << "/data/webcam";
    QTest::newRow("folder with slash") << "/data/webcam/"
                                       << "" << disk << "/data/webcam";
    QTest::newRow("pattern in existing folder") << "/data/webcam/img%time%.jpg"
                                                << "" << disk << "/data/webcam";
    QTest::newRow("pattern in missing folder") << "/gone/img%time%.jpg"
                                               << "" << disk << "/";
    QTest::newRow("pattern in root") << "/img.jpg"
                                     << "" << disk << "/";
    QTest::newRow("pattern without folder ignores initial") << "img%time%.jpg"
                                                            << "/data/webcam/" << disk << "/";
    QTest::newRow("empty text uses initial") << ""
                                             << "/data/webcam/" << disk << "/data/webcam";
    QTest::newRow("initial gone") << ""
                                  << "/gone/" << disk << "/";
    QTest::newRow("relative folder part") << "pics/img.jpg"
                                          << "" << disk << inCurrentDir(QStringLiteral("pics"));
}

void TestSaveLocation::startFolder()
{
    QFETCH(QString, startText);
    QFETCH(QString, initialDir);
    QFETCH(QStringList, folders);
    QFETCH(QString, expected);
    QCOMPARE(dialogStartFolder(startText, initialDir, oneOf(folders)), expected);
}

void TestSaveLocation::dropped_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    // "/x/a.jpg" is the one file here.
    QTest::newRow("file gives its folder") << "/x/a.jpg"
                                           << "/x/";
    QTest::newRow("folder") << "/data/webcam"
                            << "/data/webcam";
    QTest::newRow("folder with slash") << "/data/webcam/"
                                       << "/data/webcam";
    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("missing path as it is") << "/nothing/b.jpg"
                                           << "/nothing/b.jpg";
}

void TestSaveLocation::dropped()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(droppedPathText(path, oneOf({QStringLiteral("/x/a.jpg")})), expected);
}

void TestSaveLocation::browse_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("expected"); // "." stands for the current folder

    const QString exe = QStringLiteral("/opt/framelog/bin/framelog");
    QTest::newRow("folder part") << "/pics/img%time%.jpg" << exe << "/pics/";
    QTest::newRow("root folder") << "/img.jpg" << exe << "/";
    QTest::newRow("no folder: executable's") << "img%time%.jpg" << exe << "/opt/framelog/bin/";
    QTest::newRow("empty pattern") << "" << exe << "/opt/framelog/bin/";
    QTest::newRow("relative part") << "pics/img.jpg" << exe << "./pics/";
    QTest::newRow("relative executable") << "img.jpg"
                                         << "framelog"
                                         << "./";
}

void TestSaveLocation::browse()
{
    QFETCH(QString, pattern);
    QFETCH(QString, executable);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const QString result = browseFolder(pattern, executable);
    QDir::setCurrent(previous);

    if (expected.startsWith(QLatin1Char('.')))
        expected.replace(0, 1, QDir(dir.path()).canonicalPath());
    QCOMPARE(result, expected);
}

QTEST_GUILESS_MAIN(TestSaveLocation)
#include "test_save_location.moc"
