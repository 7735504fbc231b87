#include "browse/address_combo_box.h"
#include "core/error_guard.h"

#include <QAbstractItemView>
#include <QAction>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QtTest>

using namespace framelog;

namespace {

const QString kOld = QStringLiteral("old.example");

// A window around the field, wired as the main window wires it, plus a second
// focusable control. It records Enter releases that reach it by propagation.
struct Window : QWidget {
    TAddressComboBox field;
    QLineEdit other;
    int beginEdits = 0;
    QStringList asked;         // newText of every OnAcceptText
    bool acceptAnswer = true;  // what OnAcceptText answers
    QStringList textAtChange;  // field.Text() at every OnChange
    QStringList shownAtChange; // the line edit at every OnChange
    bool upkeep = true;        // OnChange adds Text() to the list if missing
    QStringList releasesHere;  // field.Text() when an Enter release got here

    Window()
    {
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(&field);
        layout->addWidget(&other);
        field.OnBeginEdit = [this] { ++beginEdits; };
        field.OnAcceptText = [this](const QString &text, bool &accept) {
            asked << text;
            accept = acceptAnswer;
        };
        field.OnChange = [this] {
            textAtChange << field.Text();
            shownAtChange << field.shownText();
            if (upkeep && !field.containsItem(field.Text()))
                field.appendItem(field.Text());
        };
        field.setText(kOld);
    }

    void keyReleaseEvent(QKeyEvent *e) override
    {
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
            releasesHere << field.Text();
        e->accept();
    }
};

// Sees every Enter release in the application, as the main window's filter does.
struct ReleaseFilter : QObject {
    QWidget *window;
    TAddressComboBox *field;
    QStringList textAtRelease;
    QObjectList receivers;
    ReleaseFilter(QWidget *w, TAddressComboBox *f) : window(w), field(f)
    {
        qApp->installEventFilter(this);
    }
    ~ReleaseFilter() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (e->type() == QEvent::KeyRelease && widget && widget->window() == window &&
            static_cast<QKeyEvent *>(e)->key() == Qt::Key_Return) {
            textAtRelease << field->Text();
            receivers << watched;
        }
        return false;
    }
};

// Replaces the shown text by typing `keys`, as a user selecting all first.
void typeOver(TAddressComboBox &field, const QString &keys)
{
    field.lineEdit()->selectAll();
    QTest::keyClicks(&field, keys);
}

} // namespace

class TestAddressComboBox : public QObject {
    Q_OBJECT

    std::unique_ptr<Window> w;

private slots:
    void init()
    {
        w = std::make_unique<Window>();
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->field.setFocus();
        QTRY_VERIFY(w->field.hasFocus());
    }
    void cleanup() { w.reset(); }

    void setup()
    {
        QCOMPARE(w->field.maxVisibleItems(), 8);
        QCOMPARE(w->field.insertPolicy(), QComboBox::NoInsert);
        QVERIFY(w->field.isEditable());
        QCOMPARE(QApplication::focusWidget(), &w->field);
    }

    void commitKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QString>("text");

        const QString t = QStringLiteral("new.example");
        const QStringList once{t};
        QTest::newRow("Return") << int(Qt::Key_Return) << Qt::KeyboardModifiers() << t << once << t;
        QTest::newRow("keypad Enter")
            << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier) << t << once << t;
        QTest::newRow("Shift+Return")
            << int(Qt::Key_Return) << Qt::KeyboardModifiers(Qt::ShiftModifier) << t << once << t;
        QTest::newRow("Tab") << int(Qt::Key_Tab) << Qt::KeyboardModifiers() << t << once << t;
        QTest::newRow("Shift+Tab")
            << int(Qt::Key_Backtab) << Qt::KeyboardModifiers(Qt::ShiftModifier) << t << once << t;
        QTest::newRow("Return, nothing typed")
            << int(Qt::Key_Return) << Qt::KeyboardModifiers() << QString() << QStringList() << kOld;
        QTest::newRow("Tab, nothing typed")
            << int(Qt::Key_Tab) << Qt::KeyboardModifiers() << QString() << QStringList() << kOld;
    }
    void commitKeys()
    {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QString, typed);
        QFETCH(QStringList, asked);
        QFETCH(QString, text);

        if (!typed.isEmpty())
            typeOver(w->field, typed);
        QCOMPARE(w->field.Text(), kOld);
        QTest::keyClick(&w->field, Qt::Key(key), modifiers);
        QCOMPARE(w->asked, asked);
        QCOMPARE(w->field.Text(), text);
        QCOMPARE(w->field.shownText(), text);
        QVERIFY(!w->field.isEditing());
        // Committing is not joining the list; the first keystroke added the
        // old text through the window's upkeep, nothing else.
        QCOMPARE(w->field.items(), typed.isEmpty() ? QStringList() : QStringList{kOld});
    }

    void enterReleaseReachesWindow()
    {
        ReleaseFilter filter(w.get(), &w->field);
        typeOver(w->field, QStringLiteral("a.example"));
        QTest::keyClick(&w->field, Qt::Key_Return);
        // Committed on the press, so the release already sees the new text.
        // It goes to the field first, and is not eaten there: it propagates
        // up to the window (the application filter sees every step).
        QCOMPARE(filter.receivers, (QObjectList{&w->field, w.get()}));
        QCOMPARE(filter.textAtRelease, QStringList(2, QStringLiteral("a.example")));
        QCOMPARE(w->releasesHere, QStringList{QStringLiteral("a.example")});
        QCOMPARE(w->asked.size(), 1);
    }

    void rejectedOrFailingCommit_data()
    {
        QTest::addColumn<bool>("throws");
        QTest::newRow("accept false") << false;
        QTest::newRow("handler throws") << true;
    }
    void rejectedOrFailingCommit()
    {
        QFETCH(bool, throws);
        QStringList errors;
        ErrorBox::setPresenter([&](const QString &text) { errors << text; });
        w->field.OnAcceptText = [&](const QString &, bool &accept) {
            if (throws)
                throw Exception(QStringLiteral("Refused"));
            accept = false;
        };
        typeOver(w->field, QStringLiteral("x"));
        QTest::keyClick(&w->field, Qt::Key_Return);
        ErrorBox::setPresenter({});
        QCOMPARE(w->field.Text(), kOld);
        QCOMPARE(w->field.shownText(), kOld);
        QVERIFY(!w->field.isEditing());
        QCOMPARE(errors, throws ? QStringList{QStringLiteral("Refused.")} : QStringList());
    }

    void endWithoutCommit_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Escape") << QStringLiteral("escape");
        QTest::newRow("focus to another control") << QStringLiteral("focus");
        QTest::newRow("disabled") << QStringLiteral("disable");
    }
    void endWithoutCommit()
    {
        QFETCH(QString, how);
        typeOver(w->field, QStringLiteral("typed"));
        QVERIFY(w->field.isEditing());
        if (how == QLatin1String("escape"))
            QTest::keyClick(&w->field, Qt::Key_Escape);
        else if (how == QLatin1String("focus"))
            w->other.setFocus();
        else
            w->field.setEnabled(false);
        QVERIFY(!w->field.isEditing());
        QCOMPARE(w->field.Text(), kOld);
        QCOMPARE(w->field.shownText(), kOld);
        QVERIFY(w->asked.isEmpty());
        // A later Enter has no edit to commit.
        w->field.setEnabled(true);
        w->field.setFocus();
        QTest::keyClick(&w->field, Qt::Key_Return);
        QVERIFY(w->asked.isEmpty());
        QCOMPARE(w->field.Text(), kOld);
    }

    // QComboBox on its own replaces the text by a matching entry when Enter is
    // pressed or the focus leaves, even outside an edit.
    void entryCaseVariantStays_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Return") << QStringLiteral("return");
        QTest::newRow("Tab") << QStringLiteral("tab");
        QTest::newRow("focus to another control") << QStringLiteral("focus");
    }
    void entryCaseVariantStays()
    {
        QFETCH(QString, how);
        w->field.appendItem(kOld);
        w->field.setText(kOld.toUpper());
        if (how == QLatin1String("return"))
            QTest::keyClick(&w->field, Qt::Key_Return);
        else if (how == QLatin1String("tab"))
            QTest::keyClick(&w->field, Qt::Key_Tab);
        else
            w->other.setFocus();
        QCOMPARE(w->field.Text(), kOld.toUpper());
        QCOMPARE(w->field.shownText(), kOld.toUpper());
        QVERIFY(w->textAtChange.isEmpty());
    }

    void dropDownKeepsEdit()
    {
        w->field.appendItem(QStringLiteral("one"));
        typeOver(w->field, QStringLiteral("zz"));
        w->field.showPopup();
        QTRY_VERIFY(w->field.view()->isVisible());
        w->field.hidePopup();
        QTRY_VERIFY(w->field.hasFocus());
        QVERIFY(w->field.isEditing());
        QCOMPARE(w->field.shownText(), QStringLiteral("zz"));
        QTest::keyClick(&w->field, Qt::Key_Return);
        QCOMPARE(w->field.Text(), QStringLiteral("zz"));
    }

    void escapeShortcut_data()
    {
        QTest::addColumn<bool>("editing");
        QTest::newRow("editing: the field's") << true;
        QTest::newRow("not editing: the window's") << false;
    }
    void escapeShortcut()
    {
        QFETCH(bool, editing);
        QAction stop(QStringLiteral("Stop"));
        stop.setShortcut(Qt::Key_Escape);
        w->addAction(&stop);
        QSignalSpy stops(&stop, &QAction::triggered);
        if (editing)
            typeOver(w->field, QStringLiteral("typed"));
        QTest::keyClick(&w->field, Qt::Key_Escape);
        QCOMPARE(stops.size(), editing ? 0 : 1);
        QVERIFY(!w->field.isEditing());
        QCOMPARE(w->field.shownText(), kOld);
    }

    void beginEditOncePerEdit()
    {
        QTest::keyClicks(&w->field, QStringLiteral("ab"));
        QCOMPARE(w->beginEdits, 1);
        QTest::keyClick(&w->field, Qt::Key_Return);
        QTest::keyClicks(&w->field, QStringLiteral("c"));
        QCOMPARE(w->beginEdits, 2);
        QTest::keyClick(&w->field, Qt::Key_Escape);
        // Keys that change nothing begin nothing.
        QTest::keyClick(&w->field, Qt::Key_Left);
        QTest::keyClick(&w->field, Qt::Key_Return);
        QCOMPARE(w->beginEdits, 2);
        QTest::keyClick(&w->field, Qt::Key_Backspace);
        QCOMPARE(w->beginEdits, 3);
    }

    void changeWhileTyping()
    {
        // Starting from an empty list: the upkeep's first entry must not
        // overwrite what is being typed.
        typeOver(w->field, QStringLiteral("ab"));
        QCOMPARE(w->textAtChange, (QStringList{kOld, kOld}));
        QCOMPARE(w->shownAtChange, (QStringList{QStringLiteral("a"), QStringLiteral("ab")}));
        QCOMPARE(w->field.items(), QStringList{kOld});
        QCOMPARE(w->field.shownText(), QStringLiteral("ab"));
        QCOMPARE(w->field.lineEdit()->cursorPosition(), 2);
        QTest::keyClick(&w->field, Qt::Key_Return);
        QCOMPARE(w->field.Text(), QStringLiteral("ab"));
    }

    void chooseEntry_data()
    {
        QTest::addColumn<bool>("typeFirst");
        QTest::addColumn<bool>("fromList");
        QTest::newRow("Down key") << false << false;
        QTest::newRow("Down key while editing") << true << false;
        QTest::newRow("from the open list") << false << true;
        QTest::newRow("from the open list while editing") << true << true;
    }
    void chooseEntry()
    {
        QFETCH(bool, typeFirst);
        QFETCH(bool, fromList);
        const QStringList entries{QStringLiteral("line 1"), kOld, QStringLiteral("third")};
        for (const QString &e : entries)
            w->field.appendItem(e);
        QCOMPARE(w->field.shownText(), kOld);
        if (typeFirst)
            typeOver(w->field, QStringLiteral("zz"));
        w->textAtChange.clear();
        if (fromList) {
            w->field.showPopup();
            QTRY_VERIFY(w->field.view()->isVisible());
            QAbstractItemView *view = w->field.view();
            view->setCurrentIndex(view->model()->index(2, 0));
            QTest::keyClick(view, Qt::Key_Return);
        } else {
            // The highlight follows the committed text, so Down goes on from it.
            QTest::keyClick(&w->field, Qt::Key_Down);
        }
        QCOMPARE(w->textAtChange, QStringList{QStringLiteral("third")});
        QCOMPARE(w->field.Text(), QStringLiteral("third"));
        QCOMPARE(w->field.shownText(), QStringLiteral("third"));
        QVERIFY(!w->field.isEditing());
        QCOMPARE(w->field.items(), entries);
        QVERIFY(w->asked.isEmpty());
    }

    void setTextReportsNothing()
    {
        w->field.setText(QStringLiteral("set.example"));
        QCOMPARE(w->field.shownText(), QStringLiteral("set.example"));
        QCOMPARE(w->beginEdits, 0);
        QVERIFY(w->textAtChange.isEmpty());

        // During an edit the user's characters stay; the new text is what an
        // Escape brings back.
        typeOver(w->field, QStringLiteral("typing"));
        w->textAtChange.clear();
        w->field.setText(QStringLiteral("loaded.example"));
        QCOMPARE(w->field.shownText(), QStringLiteral("typing"));
        QCOMPARE(w->field.Text(), QStringLiteral("loaded.example"));
        QVERIFY(w->textAtChange.isEmpty());
        QTest::keyClick(&w->field, Qt::Key_Escape);
        QCOMPARE(w->field.shownText(), QStringLiteral("loaded.example"));
    }

    void inlineCompletion_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("backspaces");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("selected");

        QTest::newRow("upper case typed") << "EXA" << 0 << "EXAmple.org/a"
                                          << "mple.org/a";
        QTest::newRow("first entry in list order") << "ex" << 0 << "example.org/a"
                                                   << "ample.org/a";
        QTest::newRow("typing on narrows") << "Example.org/b" << 0 << "Example.org/b"
                                           << "";
        QTest::newRow("whole entry typed") << "line 1" << 0 << "line 1"
                                           << "";
        QTest::newRow("no match") << "zz" << 0 << "zz"
                                  << "";
        QTest::newRow("backspace drops the completion") << "exa" << 1 << "exa"
                                                        << "";
        QTest::newRow("second backspace deletes") << "exa" << 2 << "ex"
                                                  << "";
    }
    void inlineCompletion()
    {
        QFETCH(QString, keys);
        QFETCH(int, backspaces);
        QFETCH(QString, shown);
        QFETCH(QString, selected);
        for (const char *e : {"line 1", "example.org/a", "Example.org/b"})
            w->field.appendItem(QString::fromLatin1(e));
        w->upkeep = false;

        typeOver(w->field, keys);
        for (int i = 0; i < backspaces; ++i)
            QTest::keyClick(&w->field, Qt::Key_Backspace);
        QCOMPARE(w->field.shownText(), shown);
        QCOMPARE(w->field.lineEdit()->selectedText(), selected);
        QCOMPARE(w->textAtChange.size(), keys.size() + backspaces);
        QCOMPARE(w->field.items().size(), 3);
        QTest::keyClick(&w->field, Qt::Key_Return);
        QCOMPARE(w->field.Text(), shown);
    }

    void containsItemIgnoresCase_data()
    {
        QTest::addColumn<QString>("probe");
        QTest::addColumn<bool>("insensitive");
        QTest::addColumn<bool>("sensitive");
        QTest::newRow("same") << "Straße.example" << true << true;
        QTest::newRow("other case") << "STRASSE.EXAMPLE" << false << false;
        QTest::newRow("upper") << "STRAßE.EXAMPLE" << true << false;
        QTest::newRow("prefix only") << "Straße" << false << false;
        QTest::newRow("empty") << "" << false << false;
    }
    void containsItemIgnoresCase()
    {
        QFETCH(QString, probe);
        QFETCH(bool, insensitive);
        QFETCH(bool, sensitive);
        w->field.appendItem(QStringLiteral("Straße.example"));
        QCOMPARE(w->field.containsItem(probe), insensitive);
        QCOMPARE(w->field.containsItem(probe, Qt::CaseSensitive), sensitive);
    }

    // Thousands of entries (a page that adds "?t=..." on each load): the
    // list keeps its order and its rules, also after changes made past
    // appendItem().
    void manyEntries()
    {
        const int many = 20000;
        for (int i = 0; i < many; ++i) {
            const QString url = QStringLiteral("http://cam.example/?t=%1").arg(i);
            if (!w->field.containsItem(url))
                w->field.appendItem(url);
        }
        QCOMPARE(w->field.count(), many);
        QCOMPARE(w->field.itemText(0), QStringLiteral("http://cam.example/?t=0"));
        QCOMPARE(w->field.itemText(many - 1), QStringLiteral("http://cam.example/?t=19999"));
        QVERIFY(w->field.containsItem(QStringLiteral("HTTP://CAM.EXAMPLE/?T=12345")));
        QVERIFY(!w->field.containsItem(QStringLiteral("HTTP://CAM.EXAMPLE/?T=12345"),
                                       Qt::CaseSensitive));
        // The list's highlight follows the committed text, in its own case
        // first.
        w->field.appendItem(QStringLiteral("HTTP://CAM.EXAMPLE/?T=7"));
        w->field.setText(QStringLiteral("HTTP://CAM.EXAMPLE/?T=7"));
        QCOMPARE(w->field.currentIndex(), many);
        w->field.setText(QStringLiteral("http://CAM.example/?t=7"));
        QCOMPARE(w->field.currentIndex(), 7);

        w->field.removeItem(7);
        w->field.setItemText(0, QStringLiteral("renamed"));
        QVERIFY(w->field.containsItem(QStringLiteral("renamed")));
        QVERIFY(!w->field.containsItem(QStringLiteral("http://cam.example/?t=0")));
        QVERIFY(w->field.containsItem(QStringLiteral("http://cam.example/?t=7"))); // its twin
        w->field.setText(QStringLiteral("http://CAM.example/?t=7"));
        QCOMPARE(w->field.currentIndex(), many - 1); // the twin, one row up now
    }

    void disabledTakesNoInput()
    {
        w->field.setEnabled(false);
        QTest::keyClicks(&w->field, QStringLiteral("abc"));
        QTest::keyClick(&w->field, Qt::Key_Return);
        QCOMPARE(w->field.shownText(), kOld);
        QCOMPARE(w->beginEdits, 0);
        QVERIFY(w->asked.isEmpty());
    }

    void widths()
    {
        w->field.setEditWidth(321);
        QCOMPARE(w->field.width(), 321);
        QCOMPARE(w->field.editWidth(), 321);
        w->field.setListMinimumWidth(600);
        QCOMPARE(w->field.listMinimumWidth(), 600);
        w->field.appendItem(QStringLiteral("one"));
        w->field.showPopup();
        QTRY_VERIFY(w->field.view()->isVisible());
        QVERIFY(w->field.view()->width() >= 600);
        w->field.hidePopup();
    }
};

QTEST_MAIN(TestAddressComboBox)
#include "test_address_combo_box.moc"
