// The save-location field and Browse, through the main window.
#include "form_fixture.h"

#include "ui/directory_edit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace framelog;
using namespace framelog::test;

class TestSaveLocationForm : public QObject {
    Q_OBJECT
private slots:
    void folderDialog_data();
    void folderDialog();
    void ticksWhileTheDialogIsOpen_data();
    void ticksWhileTheDialogIsOpen();
    void browseOpens_data();
    void browseOpens();
};

void TestSaveLocationForm::folderDialog_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("chosen"); // empty: Cancel
    QTest::addColumn<QString>("after");
    QTest::newRow("folder for a bare name") << "img%time%.jpg"
                                            << "/data/webcam"
                                            << "/data/webcam/img%time%.jpg";
    QTest::newRow("the root") << "/old/img%time%.jpg"
                              << "/"
                              << "/img%time%.jpg";
    QTest::newRow("cancel restores") << "/old/img%time%.jpg"
                                     << ""
                                     << "/old/img%time%.jpg";
}

void TestSaveLocationForm::folderDialog()
{
    QFETCH(QString, before);
    QFETCH(QString, chosen);
    QFETCH(QString, after);
    FormFixture f;
    TDirectoryEdit *field = f.form->FileNameEdit;
    field->setText(before);
    field->FolderDialog = [&](QWidget *, const QString &, const QString &) {
        return chosen.isEmpty() ? std::nullopt : std::optional<QString>(chosen);
    };
    field->ButtonClick();
    QCOMPARE(field->text(), after);
    QCOMPARE(f.form->Label5->text(), f.form->ExpandFileNamePattern());
    QVERIFY(f.errors.messages.isEmpty());
}

// While the dialog is open the field and Label5 show the name part alone,
// and a run goes on writing where the whole pattern says.
void TestSaveLocationForm::ticksWhileTheDialogIsOpen_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("confirmed") << true;
    QTest::newRow("cancelled") << false;
}

void TestSaveLocationForm::ticksWhileTheDialogIsOpen()
{
    QFETCH(bool, confirm);
    FormFixture f;
    QTemporaryDir dir, chosen, current;
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(current.path()));
    const auto back = qScopeGuard([&] { QDir::setCurrent(cwd); });
    TDirectoryEdit *field = f.form->FileNameEdit;
    field->setText(dir.path() + QStringLiteral("/shot%counter%.jpg"));
    QString shownWhileOpen, fieldWhileOpen, startFolder;
    field->FolderDialog = [&](QWidget *, const QString &, const QString &start) {
        startFolder = start;
        f.form->PictureTimerTimer();
        shownWhileOpen = f.form->Label5->text();
        fieldWhileOpen = field->text();
        return confirm ? std::optional<QString>(chosen.path()) : std::nullopt;
    };
    field->ButtonClick();
    QVERIFY(f.form->captureSession().finishPictures());
    QCOMPARE(fieldWhileOpen, QStringLiteral("shot%counter%.jpg"));
    QCOMPARE(shownWhileOpen, QStringLiteral("shot1.jpg"));
    QCOMPARE(startFolder, QFileInfo(dir.path()).canonicalFilePath()); // the pattern's folder
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("shot1.jpg"))));
    QVERIFY(QDir(current.path()).isEmpty());

    const QString folder = confirm ? chosen.path() : dir.path();
    QCOMPARE(f.form->Label5->text(), folder + QStringLiteral("/shot1.jpg"));
    f.form->PictureTimerTimer();
    QVERIFY(f.form->captureSession().finishPictures());
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/shot2.jpg")));
    QVERIFY(QDir(current.path()).isEmpty());
    QVERIFY(f.errors.messages.isEmpty());
}

void TestSaveLocationForm::browseOpens_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("opened");
    QTest::newRow("folder part") << "/pics/img%time%.jpg"
                                 << "/pics/";
    QTest::newRow("no folder: the program's folder")
        << "img%time%.jpg" << QCoreApplication::applicationDirPath() + QLatin1Char('/');
    QTest::newRow("relative folder") << "pics/img.jpg" << QDir::currentPath() + "/pics/";
}

void TestSaveLocationForm::browseOpens()
{
    QFETCH(QString, pattern);
    QFETCH(QString, opened);
    FormFixture f;
    QStringList folders;
    f.form->folderOpener = [&](const QString &folder) {
        folders << folder;
        return false; // a failed open stays silent
    };
    f.form->FileNameEdit->setText(pattern);
    f.form->TBXItem1->trigger();
    QCOMPARE(folders, QStringList{opened});
    QVERIFY(f.errors.messages.isEmpty());
}

QTEST_MAIN(TestSaveLocationForm)
#include "test_save_location_form.moc"
