// The paint box from the keyboard: the cursor, the drag it makes through the
// owner's mouse handlers, the keys it leaves alone, and the same drag through
// the real window's area mode.
#include "form_fixture.h"

#include "capture/selection.h"
#include "ui/directory_edit.h"
#include "ui/paint_box.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPainter>
#include <QTest>

#include <memory>

using namespace framelog;
using namespace framelog::test;

namespace {

constexpr QSize kSize(100, 80);

// A box of kSize whose handlers write down what they get, as "D x y",
// "M x y", "U x y" (lower case for a button other than the left one).
struct RecordingBox {
    TPaintBox box;
    QStringList calls;
    QList<QRegion> painted;

    RecordingBox()
    {
        box.resize(kSize);
        auto note = [this](const char *kind, Qt::MouseButton b, int x, int y) {
            const QString k = QString::fromLatin1(kind);
            calls << QStringLiteral("%1 %2 %3")
                         .arg(b == Qt::LeftButton ? k : k.toLower())
                         .arg(x)
                         .arg(y);
        };
        box.OnMouseDown = [=](TPaintBox *, Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
            note("D", b, x, y);
        };
        box.OnMouseMove = [=](TPaintBox *, Qt::KeyboardModifiers, int x, int y) {
            note("M", Qt::LeftButton, x, y);
        };
        box.OnMouseUp = [=](TPaintBox *, Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
            note("U", b, x, y);
        };
        box.OnPaint = [this](TPaintBox *sender, QPainter &p) {
            painted << sender->paintRegion();
            p.fillRect(sender->rect(), QColor(0x80, 0x80, 0x80));
        };
    }

    // Presses one key as QKeySequence writes it ("Shift+Right", "Num+Enter");
    // a trailing "*" makes it an auto-repeat. True when the box took it.
    bool press(QString key, QEvent::Type type = QEvent::KeyPress)
    {
        const bool repeat = key.endsWith(QLatin1Char('*'));
        if (repeat)
            key.chop(1);
        const QKeyCombination k = QKeySequence::fromString(key)[0];
        QKeyEvent event(type, k.key(), k.keyboardModifiers(), QString(), repeat);
        event.setAccepted(type == QEvent::KeyPress);
        QApplication::sendEvent(&box, &event);
        return event.isAccepted();
    }

    void mouse(QEvent::Type type, Qt::MouseButton button, QPoint at)
    {
        QMouseEvent event(type, at, box.mapToGlobal(at), button,
                          type == QEvent::MouseMove ? Qt::NoButton : button, Qt::NoModifier);
        QApplication::sendEvent(&box, &event);
    }

    void focus()
    {
        box.show();
        QApplication::setActiveWindow(&box);
        QVERIFY(QTest::qWaitForWindowActive(&box));
        box.setFocus();
        QTRY_VERIFY(box.hasFocus());
    }
};

// The region a cross-hair at `c` may repaint: a few pixels around it.
QRegion near(QPoint c)
{
    return QRect(c - QPoint(8, 8), QSize(17, 17));
}

} // namespace

class TestPaintBoxKeyboard : public QObject {
    Q_OBJECT
private slots:
    void keys_data();
    void keys();
    void shortcutOverride_data();
    void shortcutOverride();
    void mouseDuringKeyboardDrag();
    void losingFocusEndsTheDrag();
    void crossHairOnlyWhileFocused();
    void areaModeFromTheKeyboard();
    void coveredBoxIsPassedBy();
};

void TestPaintBoxKeyboard::keys_data()
{
    // taken: per key, "+" when the box used it, "-" when it let it through.
    QTest::addColumn<QPoint>("start");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("taken");
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<QStringList>("calls");
    const QStringList none;

    QTest::newRow("one pixel each way") << QPoint(50, 40) << "Left Up Right Right Down Down Down"
                                        << "+++++++" << QPoint(51, 42) << none;
    QTest::newRow("Shift: ten") << QPoint(0, 0) << "Shift+Right Shift+Down Shift+Down"
                                << "+++" << QPoint(10, 20) << none;
    QTest::newRow("keypad arrows") << QPoint(5, 5) << "Num+Left Num+Down"
                                   << "++" << QPoint(4, 6) << none;
    QTest::newRow("stops at 0") << QPoint(3, 2) << "Shift+Left Shift+Up Left Up"
                                << "++++" << QPoint(0, 0) << none;
    QTest::newRow("reaches width and height, not beyond")
        << QPoint(95, 75) << "Shift+Right Shift+Down Right Down"
        << "++++" << QPoint(100, 80) << none;
    QTest::newRow("back from the far edges") << QPoint(100, 80) << "Left Up"
                                             << "++" << QPoint(99, 79) << none;
    QTest::newRow("a point set outside is limited") << QPoint(500, -7) << "Left"
                                                    << "+" << QPoint(99, 0) << none;
    QTest::newRow("Space drags") << QPoint(10, 20) << "Space Right Shift+Down Space"
                                 << "++++" << QPoint(11, 30)
                                 << QStringList{"D 10 20", "M 11 20", "M 11 30", "U 11 30"};
    QTest::newRow("Enter drags") << QPoint(10, 20) << "Return Shift+Right Up Return"
                                 << "++++" << QPoint(20, 19)
                                 << QStringList{"D 10 20", "M 20 20", "M 20 19", "U 20 19"};
    QTest::newRow("keypad Enter drags")
        << QPoint(1, 1) << "Num+Enter Left Num+Enter"
        << "+++" << QPoint(0, 1) << QStringList{"D 1 1", "M 0 1", "U 0 1"};
    QTest::newRow("Space starts, Enter ends")
        << QPoint(7, 7) << "Space Down Return"
        << "+++" << QPoint(7, 8) << QStringList{"D 7 7", "M 7 8", "U 7 8"};
    QTest::newRow("no move sent at an edge")
        << QPoint(100, 80) << "Space Right Down Left Space"
        << "+++++" << QPoint(99, 80) << QStringList{"D 100 80", "M 99 80", "U 99 80"};
    QTest::newRow("a held Space does not toggle")
        << QPoint(4, 4) << "Space Space* Space* Right Space"
        << "+++++" << QPoint(5, 4) << QStringList{"D 4 4", "M 5 4", "U 5 4"};
    QTest::newRow("other modifiers pass")
        << QPoint(50, 40)
        << "Ctrl+Right Alt+Left Meta+Down Ctrl+Shift+Up Ctrl+Space Shift+Space Alt+Return "
           "Shift+Return"
        << "--------" << QPoint(50, 40) << none;
    QTest::newRow("other keys pass") << QPoint(50, 40) << "Escape A F5 Home PgDown"
                                     << "-----" << QPoint(50, 40) << none;
    QTest::newRow("they pass during a drag too")
        << QPoint(50, 40) << "Space Ctrl+Right Escape Alt+Left Space"
        << "+---+" << QPoint(50, 40) << QStringList{"D 50 40", "U 50 40"};
}

void TestPaintBoxKeyboard::keys()
{
    QFETCH(QPoint, start);
    QFETCH(QString, keys);
    QFETCH(QString, taken);
    QFETCH(QPoint, cursor);
    QFETCH(QStringList, calls);
    RecordingBox r;
    r.box.setKeyboardCursor(start);
    QString took;
    for (const QString &key : keys.split(QLatin1Char(' ')))
        took += r.press(key) ? u'+' : u'-';
    QCOMPARE(took, taken);
    QCOMPARE(r.box.keyboardCursor(), cursor);
    QCOMPARE(r.calls, calls);
}

void TestPaintBoxKeyboard::shortcutOverride_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("dragging");
    QTest::addColumn<bool>("claimed");
    QTest::newRow("arrow, no drag") << "Right" << false << false;
    QTest::newRow("Space, no drag") << "Space" << false << false;
    QTest::newRow("arrow") << "Left" << true << true;
    QTest::newRow("Shift+arrow") << "Shift+Down" << true << true;
    QTest::newRow("Space") << "Space" << true << true;
    QTest::newRow("Enter") << "Return" << true << true;
    QTest::newRow("keypad Enter") << "Num+Enter" << true << true;
    QTest::newRow("Escape") << "Escape" << true << false;
    QTest::newRow("Alt+Left (Back)") << "Alt+Left" << true << false;
    QTest::newRow("F5") << "F5" << true << false;
}

void TestPaintBoxKeyboard::shortcutOverride()
{
    QFETCH(QString, key);
    QFETCH(bool, dragging);
    QFETCH(bool, claimed);
    RecordingBox r;
    if (dragging)
        QVERIFY(r.press(QStringLiteral("Space")));
    QCOMPARE(r.press(key, QEvent::ShortcutOverride), claimed);
}

void TestPaintBoxKeyboard::mouseDuringKeyboardDrag()
{
    RecordingBox r;
    r.box.setKeyboardCursor({10, 10});
    r.press(QStringLiteral("Space"));
    // A mouse resting on the box does not pull the keyboard's corner...
    r.mouse(QEvent::MouseMove, Qt::NoButton, {60, 60});
    QCOMPARE(r.calls, QStringList{"D 10 10"});
    QVERIFY(r.box.keyboardDragging());
    // ...but a press goes through as ever, and the mouse has the drag.
    r.mouse(QEvent::MouseButtonPress, Qt::RightButton, {30, 30});
    QVERIFY(!r.box.keyboardDragging());
    r.mouse(QEvent::MouseMove, Qt::NoButton, {40, 40});
    r.press(QStringLiteral("Right"));
    r.press(QStringLiteral("Space")); // a new keyboard drag
    QCOMPARE(r.calls, (QStringList{"D 10 10", "d 30 30", "M 40 40", "D 11 10"}));
}

void TestPaintBoxKeyboard::losingFocusEndsTheDrag()
{
    RecordingBox r;
    r.focus();
    r.box.setKeyboardCursor({10, 10});
    r.press(QStringLiteral("Space"));
    r.press(QStringLiteral("Down"));
    r.box.clearFocus();
    QCOMPARE(r.calls, (QStringList{"D 10 10", "M 10 11", "U 10 11"}));
    QVERIFY(!r.box.keyboardDragging());
}

void TestPaintBoxKeyboard::crossHairOnlyWhileFocused()
{
    const QRgb grey = qRgb(0x80, 0x80, 0x80);
    RecordingBox r;
    r.box.setKeyboardCursor({30, 40});
    QCOMPARE(r.box.grab().toImage().pixel(30, 40), grey);

    r.painted.clear();
    r.focus();
    QTRY_VERIFY(!r.painted.isEmpty());
    QImage shown = r.box.grab().toImage();
    // A dark cross with a light rim, so it shows on any picture.
    for (const QPoint p : {QPoint(30, 40), QPoint(27, 40), QPoint(30, 43)})
        QCOMPARE(shown.pixel(p), qRgb(0, 0, 0));
    for (const QPoint p : {QPoint(31, 38), QPoint(36, 40), QPoint(27, 41)})
        QCOMPARE(shown.pixel(p), qRgb(0xff, 0xff, 0xff));
    QCOMPARE(shown.pixel(40, 40), grey);

    // A step repaints only around the old and the new place.
    r.painted.clear();
    r.press(QStringLiteral("Shift+Right"));
    QTRY_VERIFY(!r.painted.isEmpty());
    QRegion all;
    for (const QRegion &region : std::as_const(r.painted))
        all += region;
    QCOMPARE(all - near({30, 40}) - near({40, 40}), QRegion());
    QVERIFY(all.contains(QPoint(30, 40)) && all.contains(QPoint(40, 40)));
    shown = r.box.grab().toImage();
    QCOMPARE(shown.pixel(40, 40), qRgb(0, 0, 0));
    QCOMPARE(shown.pixel(30, 40), grey);

    r.box.clearFocus();
    QCOMPARE(r.box.grab().toImage().pixel(40, 40), grey);
}

void TestPaintBoxKeyboard::areaModeFromTheKeyboard()
{
    FormFixture f;
    TMainForm &form = *f.form;
    TPaintBox *box = form.SelectAreaPaintBox;
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.SelectAreaTBXItem->trigger();
    QVERIFY(form.SelectAreaTBXItem->isChecked());
    box->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(box->hasFocus());

    box->setKeyboardCursor({10, 20});
    QTest::keyClick(box, Qt::Key_Space);
    QVERIFY(form.FSelecting);
    for (int i = 0; i < 10; ++i)
        QTest::keyClick(box, Qt::Key_Right, Qt::ShiftModifier);
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(box, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(box, Qt::Key_Space);
    QCOMPARE(form.FSelection, (TRect{10, 20, 110, 70}));
    QVERIFY(form.FSelectionActive);
    QVERIFY(!form.FSelecting);
    form.CapturePage();
    QCOMPARE(form.FCaptureBitmap->size(), QSize(100, 50));
    QCOMPARE(form.FCaptureBitmap->pixel(0, 0), FakePage::pixelAt(10, 20));
    QVERIFY(f.errors.messages.isEmpty());
}

void TestPaintBoxKeyboard::coveredBoxIsPassedBy()
{
    // Outside area mode the live page lies over the box: Tab passes it by and
    // its keys change nothing unseen; in area mode Tab comes to it.
    FormFixture f;
    TMainForm &form = *f.form;
    TPaintBox *box = form.SelectAreaPaintBox;
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    auto tabsReachTheBox = [&] {
        form.FileNameEdit->setFocus();
        for (int i = 0; i < 30 && !box->hasFocus(); ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        return box->hasFocus();
    };
    QVERIFY(!tabsReachTheBox());
    box->setFocus();
    QVERIFY(box->hasFocus());
    QTest::keyClick(box, Qt::Key_Space);
    QTest::keyClick(box, Qt::Key_Right);
    QTest::keyClick(box, Qt::Key_Space);
    QVERIFY(!form.FSelecting);
    QCOMPARE(form.FSelection, TRect{});

    form.SelectAreaTBXItem->trigger();
    QVERIFY(tabsReachTheBox());
}

QTEST_MAIN(TestPaintBoxKeyboard)
#include "test_paint_box_keyboard.moc"
