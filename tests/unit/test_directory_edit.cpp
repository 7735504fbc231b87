#include "core/error_guard.h"
#include "settings/save_location.h"
#include "ui/directory_edit.h"
#include "ui/folder_rules.h"

#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>

using namespace framelog;

namespace {

// The field as the main window sets it up, with a scripted folder dialog
// that remembers what it saw.
struct Field {
    TDirectoryEdit edit;
    QStringList changes; // text at each change report
    int dialogs = 0;     // how often the dialog opened
    QString dialogStart; // the folder it was asked to start at
    QString dialogCaption;
    QWidget *dialogParent = nullptr;
    QString textWhileOpen;         // the field's text while it was open
    QStringList changesWhileOpen;  // change reports up to the opening
    std::optional<QString> answer; // nullopt: the user cancels

    Field()
    {
        edit.OnChange = [this](QObject *sender) {
            QCOMPARE(sender, &edit);
            changes << edit.text();
        };
        edit.OnBeforeDialog = [this](QObject *, QString &, bool &) {
            edit.setText(fileNamePart(edit.text()));
        };
        edit.OnAfterDialog = [this](QObject *, QString &name, bool &) {
            name = joinFolderAndName(name, edit.text());
        };
        edit.FolderDialog = [this](QWidget *parent, const QString &caption,
                                   const QString &start) -> std::optional<QString> {
            ++dialogs;
            dialogParent = parent;
            dialogCaption = caption;
            dialogStart = start;
            textWhileOpen = edit.text();
            changesWhileOpen = changes;
            return answer;
        };
    }
};

// Test folders are written "<tmp>/..." in the tables.
QString inTemp(QString text, const QTemporaryDir &dir)
{
    return text.replace(QStringLiteral("<tmp>"), dir.path());
}

QMimeData *urlsOf(const QStringList &paths)
{
    auto *mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << (path.contains(QLatin1String("://")) ? QUrl(path) : QUrl::fromLocalFile(path));
    mime->setUrls(urls);
    return mime;
}

// Drags `mime` onto `widget` and drops it there, as the window system does: the
// drop only reaches a widget that accepted the drag's entry. Returns whether
// the drop was taken.
bool dragAndDrop(QWidget *widget, const QMimeData *mime, Qt::DropActions actions,
                 Qt::DropAction *action = nullptr)
{
    const QPoint pos(5, 5);
    QDragEnterEvent enter(pos, actions, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(pos, actions, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &drop);
    if (action)
        *action = drop.dropAction();
    return drop.isAccepted();
}

} // namespace

class TestDirectoryEdit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void defaults();
    void buttonSequence_data();
    void buttonSequence();
    void nextStartIsConfirmedFolder();
    void fieldShowsNamePartWhileOpen_data();
    void fieldShowsNamePartWhileOpen();
    void keyboardAndButtonOpenDialog_data();
    void keyboardAndButtonOpenDialog();
    void focusReturnsToField();
    void refusedBeforeDialogKeepsText();
    void failingHandlerRestoresText();
    void fieldDeletedWhileDialogOpen();
    void drop_data();
    void drop();
    void dropNeverMoves();

private:
    QTemporaryDir m_dir;
};

void TestDirectoryEdit::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir root(m_dir.path());
    QVERIFY(root.mkdir(QStringLiteral("old")));
    QVERIFY(root.mkdir(QStringLiteral("webcam")));
    for (const char *name : {"old/a.jpg", "old/b.jpg"}) {
        QFile file(root.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

void TestDirectoryEdit::defaults()
{
    TDirectoryEdit edit;
    QCOMPARE(edit.DialogText(), QStringLiteral("Select a folder to save the images in:"));
    QVERIFY(edit.InitialDir().isEmpty());
    QVERIFY(edit.acceptDrops());
    QCOMPARE(edit.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);

    auto *button = edit.findChild<QToolButton *>(QStringLiteral("folderButton"));
    QVERIFY(button);
    QCOMPARE(button, edit.button());
    QCOMPARE(button->toolTip(), QStringLiteral("Edit/Replace directory part of filename"));
    QVERIFY(!button->accessibleName().isEmpty());

    // The button sits at the right end, clear of the text.
    edit.resize(200, 24);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QVERIFY(button->isVisible());
    QVERIFY(button->geometry().right() < edit.width());
    QVERIFY(button->geometry().left() > edit.width() / 2);
    QVERIFY(edit.textMargins().right() >= button->width());
}

void TestDirectoryEdit::buttonSequence_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("initialDir");
    QTest::addColumn<QString>("answer"); // empty: Cancel
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("initialAfter");

    // <tmp>/old and <tmp>/webcam exist, <tmp>/missing does not.
    QTest::newRow("initial pattern") << "img%time%.jpg"
                                     << ""
                                     << "<tmp>/webcam"
                                     << "/"
                                     << "<tmp>/webcam/img%time%.jpg"
                                     << "";
    QTest::newRow("root chosen") << "<tmp>/missing/img%time%.jpg"
                                 << ""
                                 << "/"
                                 << "/"
                                 << "/img%time%.jpg"
                                 << "";
    QTest::newRow("folder only becomes initial") << "<tmp>/old/"
                                                 << ""
                                                 << "<tmp>/webcam"
                                                 << "<tmp>/old"
                                                 << "<tmp>/webcam/"
                                                 << "<tmp>/webcam/";
    QTest::newRow("cancel keeps text") << "<tmp>/old/img%time%.jpg"
                                       << ""
                                       << ""
                                       << "<tmp>/old"
                                       << "<tmp>/old/img%time%.jpg"
                                       << "";
    QTest::newRow("empty field, empty initial") << ""
                                                << ""
                                                << "<tmp>/webcam"
                                                << "/"
                                                << "<tmp>/webcam/"
                                                << "<tmp>/webcam/";
    QTest::newRow("empty field starts at initial") << ""
                                                   << "<tmp>/old/"
                                                   << ""
                                                   << "<tmp>/old"
                                                   << ""
                                                   << "<tmp>/old/";
    QTest::newRow("pattern ignores initial") << "img.jpg"
                                             << "<tmp>/old/"
                                             << ""
                                             << "/"
                                             << "img.jpg"
                                             << "<tmp>/old/";
    QTest::newRow("answer with trailing slash") << "img%time%.jpg"
                                                << ""
                                                << "<tmp>/webcam/"
                                                << "/"
                                                << "<tmp>/webcam/img%time%.jpg"
                                                << "";
}

void TestDirectoryEdit::buttonSequence()
{
    QFETCH(QString, text);
    QFETCH(QString, initialDir);
    QFETCH(QString, answer);
    QFETCH(QString, start);
    QFETCH(QString, result);
    QFETCH(QString, initialAfter);

    Field field;
    field.edit.setText(inTemp(text, m_dir));
    field.edit.setInitialDir(inTemp(initialDir, m_dir));
    if (!answer.isEmpty())
        field.answer = inTemp(answer, m_dir);

    field.edit.ButtonClick();

    QCOMPARE(field.dialogs, 1);
    QCOMPARE(field.dialogParent, &field.edit);
    QCOMPARE(field.dialogCaption, field.edit.DialogText());
    QCOMPARE(field.dialogStart, inTemp(start, m_dir));
    QCOMPARE(field.edit.text(), inTemp(result, m_dir));
    QCOMPARE(field.edit.InitialDir(), inTemp(initialAfter, m_dir));
}

void TestDirectoryEdit::nextStartIsConfirmedFolder()
{
    Field field;
    field.answer = m_dir.filePath(QStringLiteral("webcam"));
    field.edit.ButtonClick();
    QCOMPARE(field.dialogStart, QStringLiteral("/"));
    QCOMPARE(field.edit.text(), *field.answer + QLatin1Char('/'));

    field.answer.reset();
    field.edit.ButtonClick();
    QCOMPARE(field.dialogStart, m_dir.filePath(QStringLiteral("webcam")));
}

void TestDirectoryEdit::fieldShowsNamePartWhileOpen_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("ok") << true;
    QTest::newRow("cancel") << false;
}

void TestDirectoryEdit::fieldShowsNamePartWhileOpen()
{
    QFETCH(bool, confirm);
    const QString pattern = m_dir.filePath(QStringLiteral("old/img%time%.jpg"));
    const QString chosen = m_dir.filePath(QStringLiteral("webcam"));

    Field field;
    field.edit.setText(pattern);
    field.changes.clear();
    QSignalSpy textChanges(&field.edit, &QLineEdit::textChanged);
    if (confirm)
        field.answer = chosen;

    field.edit.ButtonClick();

    QCOMPARE(field.textWhileOpen, QStringLiteral("img%time%.jpg"));
    QCOMPARE(field.changesWhileOpen, QStringList{QStringLiteral("img%time%.jpg")});
    const QString final = confirm ? chosen + QStringLiteral("/img%time%.jpg") : pattern;
    QCOMPARE(field.changes, (QStringList{QStringLiteral("img%time%.jpg"), final}));
    QCOMPARE(textChanges.count(), field.changes.count());
}

void TestDirectoryEdit::keyboardAndButtonOpenDialog_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("dialogs");

    QTest::newRow("Alt+Down") << int(Qt::Key_Down) << int(Qt::AltModifier) << 1;
    QTest::newRow("Down") << int(Qt::Key_Down) << int(Qt::NoModifier) << 0;
    QTest::newRow("Alt+Up") << int(Qt::Key_Up) << int(Qt::AltModifier) << 0;
    QTest::newRow("Ctrl+Alt+Down")
        << int(Qt::Key_Down) << int(Qt::AltModifier | Qt::ControlModifier) << 0;
    QTest::newRow("button click") << 0 << 0 << 1;
}

void TestDirectoryEdit::keyboardAndButtonOpenDialog()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, dialogs);

    Field field;
    field.edit.setText(QStringLiteral("img.jpg"));
    field.answer = m_dir.filePath(QStringLiteral("webcam"));
    field.edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&field.edit));

    if (key)
        QTest::keyClick(&field.edit, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    else
        QTest::mouseClick(field.edit.button(), Qt::LeftButton);

    QCOMPARE(field.dialogs, dialogs);
    if (dialogs)
        QCOMPARE(field.edit.text(), *field.answer + QStringLiteral("/img.jpg"));
}

void TestDirectoryEdit::focusReturnsToField()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *other = new QLineEdit(&window);
    Field field;
    layout->addWidget(other);
    layout->addWidget(&field.edit);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    other->setFocus();
    QCOMPARE(window.focusWidget(), other);

    field.edit.FolderDialog = [&](QWidget *, const QString &, const QString &) {
        other->setFocus(); // as a closing modal dialog may leave it
        return std::optional<QString>();
    };
    field.edit.ButtonClick();
    QCOMPARE(window.focusWidget(), &field.edit);
    layout->removeWidget(&field.edit);
    field.edit.setParent(nullptr);
}

void TestDirectoryEdit::refusedBeforeDialogKeepsText()
{
    Field field;
    const QString pattern = QStringLiteral("/old/img.jpg");
    field.edit.setText(pattern);
    field.edit.OnBeforeDialog = [&](QObject *, QString &, bool &action) {
        field.edit.setText(fileNamePart(field.edit.text()));
        action = false;
    };
    field.edit.ButtonClick();
    QCOMPARE(field.dialogs, 0);
    QCOMPARE(field.edit.text(), pattern);
}

void TestDirectoryEdit::failingHandlerRestoresText()
{
    QStringList boxes;
    ErrorBox::setPresenter([&](const QString &text) { boxes << text; });

    Field field;
    const QString pattern = m_dir.filePath(QStringLiteral("old/img.jpg"));
    field.edit.setText(pattern);
    field.answer = m_dir.filePath(QStringLiteral("webcam"));
    field.edit.OnAfterDialog = [](QObject *, QString &, bool &) {
        throw Exception(QStringLiteral("Handler failed"));
    };
    QTest::keyClick(&field.edit, Qt::Key_Down, Qt::AltModifier);
    ErrorBox::setPresenter({});

    QCOMPARE(field.edit.text(), pattern);
    QCOMPARE(boxes, QStringList{QStringLiteral("Handler failed.")});
}

void TestDirectoryEdit::fieldDeletedWhileDialogOpen()
{
    auto *edit = new TDirectoryEdit;
    edit->setText(QStringLiteral("/old/img.jpg"));
    int afterDialogs = 0;
    edit->OnAfterDialog = [&](QObject *, QString &, bool &) { ++afterDialogs; };
    edit->FolderDialog = [](QWidget *parent, const QString &, const QString &) {
        delete parent;
        return std::optional<QString>(QStringLiteral("/"));
    };
    edit->ButtonClick(); // must not touch the deleted field
    QCOMPARE(afterDialogs, 0);
}

void TestDirectoryEdit::drop_data()
{
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("result");

    // <tmp>/old/a.jpg and <tmp>/old/b.jpg are files.
    QTest::newRow("file gives its folder")
        << QStringList{"<tmp>/old/a.jpg"} << true << "<tmp>/old/";
    QTest::newRow("folder") << QStringList{"<tmp>/webcam"} << true << "<tmp>/webcam";
    QTest::newRow("folder with slash") << QStringList{"<tmp>/webcam/"} << true << "<tmp>/webcam";
    QTest::newRow("two files take the first")
        << QStringList{"<tmp>/old/b.jpg", "<tmp>/webcam/"} << true << "<tmp>/old/";
    QTest::newRow("folder then file")
        << QStringList{"<tmp>/webcam", "<tmp>/old/a.jpg"} << true << "<tmp>/webcam";
    QTest::newRow("first not local")
        << QStringList{"https://example.org/x.jpg", "<tmp>/old/a.jpg"} << false << "some/img.jpg";
}

void TestDirectoryEdit::drop()
{
    QFETCH(QStringList, dropped);
    QFETCH(bool, accepted);
    QFETCH(QString, result);

    for (QString &path : dropped)
        path = inTemp(path, m_dir);
    Field field;
    field.edit.setText(QStringLiteral("some/img.jpg"));
    field.changes.clear();

    const std::unique_ptr<QMimeData> mime(urlsOf(dropped));
    QCOMPARE(dragAndDrop(&field.edit, mime.get(), Qt::CopyAction | Qt::MoveAction), accepted);
    QCOMPARE(field.edit.text(), inTemp(result, m_dir));
    QCOMPARE(field.changes.count(), accepted ? 1 : 0);
}

void TestDirectoryEdit::dropNeverMoves()
{
    TDirectoryEdit edit;
    const std::unique_ptr<QMimeData> mime(urlsOf({m_dir.filePath(QStringLiteral("old/a.jpg"))}));

    // A file manager deletes the source after a move: take a copy whenever
    // offered, refuse when only a move is.
    Qt::DropAction action = Qt::IgnoreAction;
    QVERIFY(dragAndDrop(&edit, mime.get(), Qt::CopyAction | Qt::MoveAction, &action));
    QCOMPARE(action, Qt::CopyAction);

    edit.clear();
    QVERIFY(!dragAndDrop(&edit, mime.get(), Qt::MoveAction));
    QVERIFY(edit.text().isEmpty());
}

QTEST_MAIN(TestDirectoryEdit)
#include "test_directory_edit.moc"
