// The spin-edit field driven like a user does: clicks, keys, held spin
// buttons, a screen reader's view of it.
#include "core/error_guard.h"
#include "settings/interval_units.h"
#include "ui/spin_edit_item.h"

#include <QAccessible>
#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <vector>

using namespace framelog;

class TestSpinEditItem : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void clickOpensEditorWithAllTextSelected();
    void commitFiresChangeOnce_data();
    void commitFiresChangeOnce();
    void escapeDiscardsDespiteWindowShortcut();
    void clickElsewhereDiscards_data();
    void clickElsewhereDiscards();
    void windowSwitchDiscards_data();
    void windowSwitchDiscards();
    void arrowsStepWithEditorOpen();
    void spinButtonsStep_data();
    void spinButtonsStep();
    void pressedButtonIsDrawnPressed();
    void heldButtonRepeats();
    void heldButtonRepeatsAtDesignTiming();
    void disabledFieldTakesNoInput();
    void disablingClosesEditor();
    void overflowShowsErrorAndKeepsLastValid();
    void keyboardReachesField();
    void accessibleTextAndValue();
    void decimalComma();
    void designSize();

private:
    QLineEdit *editor() const { return m_field->findChild<QLineEdit *>(); }
    void openEditor() { QTest::mouseClick(m_field, Qt::LeftButton, {}, textPoint()); }
    QPoint textPoint() const { return m_field->textRect().center(); }

    QWidget *m_window = nullptr;
    QLineEdit *m_before = nullptr;
    QLabel *m_label = nullptr;
    TTBXSpinEditItem *m_field = nullptr;
    QLineEdit *m_after = nullptr;
    QPushButton *m_noFocusButton = nullptr;

    struct Change {
        QString text;
        long double value;
    };
    std::vector<Change> m_changes;
    struct Step {
        int step;
        long double oldValue;
        long double newValue;
        qint64 atMs;
    };
    std::vector<Step> m_steps;
    QElapsedTimer m_clock;
    QStringList m_errors;
};

void TestSpinEditItem::init()
{
    ErrorBox::setPresenter([this](const QString &text) { m_errors << text; });
    m_changes.clear();
    m_steps.clear();
    m_errors.clear();
    m_clock.start();

    m_window = new QWidget;
    auto *layout = new QHBoxLayout(m_window);
    m_before = new QLineEdit;
    m_label = new QLabel(QStringLiteral("Take picture every"));
    m_field = new TTBXSpinEditItem;
    m_after = new QLineEdit;
    m_noFocusButton = new QPushButton(QStringLiteral("Area"));
    m_noFocusButton->setFocusPolicy(Qt::NoFocus);
    m_label->setBuddy(m_field);
    for (QWidget *w : {static_cast<QWidget *>(m_before), static_cast<QWidget *>(m_label),
                       static_cast<QWidget *>(m_field), static_cast<QWidget *>(m_after),
                       static_cast<QWidget *>(m_noFocusButton)})
        layout->addWidget(w);

    m_field->setDecimalSeparator(QLatin1Char('.'));
    m_field->setDecimal(1);
    m_field->setIncrement(0.1L);
    m_field->setMinValue(0.1L);
    m_field->setMaxValue(30.0L);
    m_field->setPostfix(QStringLiteral("s"));
    m_field->setSpaceBeforePostfix(true);
    m_field->OnConvert = [](TTBXSpinEditItem *sender, const QString &, const QString &postfix,
                            long double &value, bool &) {
        value = convertToFieldUnit(sender->postfix(), postfix, value);
    };
    m_field->OnChange = [this](TTBXSpinEditItem *sender, const QString &text) {
        m_changes.push_back({text, sender->value()});
    };
    m_field->OnStep = [this](TTBXSpinEditItem *, int step, long double oldValue,
                             long double &newValue) {
        m_steps.push_back({step, oldValue, newValue, m_clock.elapsed()});
    };
    m_field->setValue(1.0L);

    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}

void TestSpinEditItem::cleanup()
{
    delete m_window;
    m_window = nullptr;
    ErrorBox::setPresenter({});
}

void TestSpinEditItem::clickOpensEditorWithAllTextSelected()
{
    QVERIFY(!editor() || !editor()->isVisible());
    openEditor();
    QVERIFY(m_field->isEditing());
    QLineEdit *e = editor();
    QVERIFY(e && e->isVisible());
    QCOMPARE(e->text(), QStringLiteral("1.0 s"));
    QCOMPARE(e->selectedText(), QStringLiteral("1.0 s"));
    QTRY_VERIFY(e->hasFocus());
    QVERIFY(e->alignment() & Qt::AlignRight);
    QVERIFY(m_changes.empty());
}

void TestSpinEditItem::commitFiresChangeOnce_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("movesOn");
    QTest::newRow("Return") << int(Qt::Key_Return) << false;
    QTest::newRow("Enter") << int(Qt::Key_Enter) << false;
    QTest::newRow("Tab") << int(Qt::Key_Tab) << true;
}

void TestSpinEditItem::commitFiresChangeOnce()
{
    QFETCH(int, key);
    QFETCH(bool, movesOn);
    openEditor();
    QTest::keyClicks(editor(), QStringLiteral("2"));
    // While typing, handlers still read the committed value.
    QCOMPARE(m_changes.size(), size_t(1));
    QCOMPARE(m_changes[0].text, QStringLiteral("2"));
    QVERIFY(m_changes[0].value == 1.0L);

    QTest::keyClick(editor(), Qt::Key(key));
    QVERIFY(!m_field->isEditing());
    QCOMPARE(m_field->text(), QStringLiteral("2.0 s"));
    QCOMPARE(m_changes.size(), size_t(2));
    QCOMPARE(m_changes[1].text, QStringLiteral("2.0 s"));
    QVERIFY(m_changes[1].value == 2.0L);
    QTRY_VERIFY(movesOn ? m_after->hasFocus() : m_field->hasFocus());
}

void TestSpinEditItem::escapeDiscardsDespiteWindowShortcut()
{
    // The main window has Esc (and others) as menu shortcuts; the open
    // editor must still get its keys.
    std::vector<QAction *> actions;
    for (QKeySequence key :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Up)}) {
        auto *action = new QAction(m_window);
        action->setShortcut(key);
        m_window->addAction(action);
        actions.push_back(action);
    }
    QSignalSpy escSpy(actions[0], &QAction::triggered);
    QSignalSpy returnSpy(actions[1], &QAction::triggered);
    QSignalSpy upSpy(actions[2], &QAction::triggered);

    openEditor();
    QTest::keyClicks(editor(), QStringLiteral("5"));
    QTest::keyClick(editor(), Qt::Key_Escape);
    QCOMPARE(escSpy.count(), 0);
    QVERIFY(!m_field->isEditing());
    QCOMPARE(m_field->text(), QStringLiteral("1.0 s"));
    QCOMPARE(m_changes.size(), size_t(1)); // only the typing

    // Reopened and committed untouched, the old value stays.
    openEditor();
    QTest::keyClick(editor(), Qt::Key_Up);
    QTest::keyClick(editor(), Qt::Key_Return);
    QCOMPARE(returnSpy.count(), 0);
    QCOMPARE(upSpy.count(), 0);
    QCOMPARE(m_field->text(), QStringLiteral("1.1 s"));
}

void TestSpinEditItem::clickElsewhereDiscards_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("focusable widget") << "after";
    QTest::newRow("button without focus") << "button";
}

void TestSpinEditItem::clickElsewhereDiscards()
{
    QFETCH(QString, target);
    openEditor();
    QTest::keyClicks(editor(), QStringLiteral("7"));
    QWidget *w = target == QLatin1String("after") ? static_cast<QWidget *>(m_after)
                                                  : static_cast<QWidget *>(m_noFocusButton);
    QTest::mouseClick(w, Qt::LeftButton);
    QVERIFY(!m_field->isEditing());
    QCOMPARE(m_field->text(), QStringLiteral("1.0 s"));
}

void TestSpinEditItem::windowSwitchDiscards_data()
{
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("discards");
    QTest::newRow("another window becomes active") << "window" << true;
    QTest::newRow("a press in a window that takes no focus") << "tool" << true;
    QTest::newRow("the field's own error box") << "error box" << false;
}

void TestSpinEditItem::windowSwitchDiscards()
{
    QFETCH(QString, to);
    QFETCH(bool, discards);
    openEditor();
    QTest::keyClicks(editor(), QStringLiteral("5"));
    QWidget other(nullptr, to == QLatin1String("tool") ? Qt::Tool : Qt::Window);
    other.resize(100, 100);
    if (to == QLatin1String("window")) {
        other.show();
        QApplication::setActiveWindow(&other);
        QVERIFY(QTest::qWaitForWindowActive(&other));
    } else if (to == QLatin1String("tool")) {
        other.setAttribute(Qt::WA_ShowWithoutActivating);
        other.setWindowFlag(Qt::WindowDoesNotAcceptFocus);
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        QTest::mouseClick(&other, Qt::LeftButton);
    } else {
        // A real modal box, which takes the focus while it is open.
        ErrorBox::setPresenter([](const QString &) {
            QDialog box;
            connect(qApp, &QGuiApplication::focusWindowChanged, &box, [&box](QWindow *active) {
                if (active == box.windowHandle())
                    box.accept();
            });
            box.exec();
        });
        editor()->insert(QStringLiteral("e4933")); // overflows: "5e4933"
    }
    QCOMPARE(m_field->isEditing(), !discards);
    // Back in the window, Enter commits only what an open editor holds.
    QApplication::setActiveWindow(m_window);
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    if (m_field->isEditing())
        QTest::keyClick(editor(), Qt::Key_Return);
    QCOMPARE(m_field->text(), discards ? QStringLiteral("1.0 s") : QStringLiteral("5.0 s"));
}

void TestSpinEditItem::arrowsStepWithEditorOpen()
{
    openEditor();
    QTest::keyClicks(editor(), QStringLiteral("5"));
    m_changes.clear();
    // The step starts from the committed 1.0, not from the typed 5.
    QTest::keyClick(editor(), Qt::Key_Up);
    QVERIFY(m_field->isEditing());
    QCOMPARE(m_field->text(), QStringLiteral("1.1 s"));
    QCOMPARE(editor()->text(), QStringLiteral("1.1 s"));
    QCOMPARE(editor()->selectedText(), QStringLiteral("1.1 s"));
    QCOMPARE(m_steps.size(), size_t(1));
    QCOMPARE(m_steps[0].step, 1);
    QVERIFY(m_steps[0].oldValue == 1.0L);
    QCOMPARE(m_changes.size(), size_t(1));
    QCOMPARE(m_changes[0].text, QStringLiteral("1.1 s"));
    QVERIFY(m_changes[0].value > 1.09L && m_changes[0].value < 1.11L);

    QTest::keyClick(editor(), Qt::Key_Down);
    QTest::keyClick(editor(), Qt::Key_Down);
    QCOMPARE(editor()->text(), QStringLiteral("0.9 s"));
    QTest::keyClick(editor(), Qt::Key_Return);
    QCOMPARE(m_field->text(), QStringLiteral("0.9 s"));
}

void TestSpinEditItem::spinButtonsStep_data()
{
    QTest::addColumn<bool>("up");
    QTest::addColumn<QString>("expected");
    QTest::newRow("up") << true << "1.1 s";
    QTest::newRow("down") << false << "0.9 s";
}

void TestSpinEditItem::spinButtonsStep()
{
    QFETCH(bool, up);
    QFETCH(QString, expected);
    const QRect button = up ? m_field->upButtonRect() : m_field->downButtonRect();
    // Each button is half the field's inner height, at its right end.
    QVERIFY(qAbs(m_field->upButtonRect().height() - m_field->downButtonRect().height()) <= 1);
    QVERIFY(button.right() >= m_field->width() - 4);

    QTest::mousePress(m_field, Qt::LeftButton, {}, button.center());
    QCOMPARE(m_field->text(), expected); // at once, before release
    QTest::mouseRelease(m_field, Qt::LeftButton, {}, button.center());
    QVERIFY(!m_field->isEditing());
    QCOMPARE(m_steps.size(), size_t(1));
    QCOMPARE(m_changes.size(), size_t(1));
    QCOMPARE(m_changes[0].text, expected);
}

void TestSpinEditItem::pressedButtonIsDrawnPressed()
{
    // At the minimum a step down changes no text, so only the button's look
    // can differ.
    m_field->setValue(0.1L);
    m_field->setFocus(); // the press focuses the field; compare like with like
    QTRY_VERIFY(m_field->hasFocus());
    const QImage idle = m_field->grab().toImage();
    const QPoint down = m_field->downButtonRect().center();
    QTest::mousePress(m_field, Qt::LeftButton, {}, down);
    QCOMPARE(m_field->text(), QStringLiteral("0.1 s"));
    const QImage pressed = m_field->grab().toImage();
    QTest::mouseRelease(m_field, Qt::LeftButton, {}, down);
    const QImage released = m_field->grab().toImage();
    QVERIFY(pressed != idle);
    QCOMPARE(released, idle);
}

void TestSpinEditItem::heldButtonRepeats()
{
    m_field->setAutoRepeatTiming(20, 5);
    const QPoint up = m_field->upButtonRect().center();
    QTest::mousePress(m_field, Qt::LeftButton, {}, up);
    QCOMPARE(m_steps.size(), size_t(1));
    QTRY_VERIFY(m_steps.size() >= 5);
    QTest::mouseRelease(m_field, Qt::LeftButton, {}, up);
    auto *timer = m_field->findChild<QTimer *>(QStringLiteral("autoRepeatTimer"));
    QVERIFY(timer);
    QVERIFY(!timer->isActive());
    QCOMPARE(m_changes.size(), m_steps.size());
    QCOMPARE(m_field->text(), m_changes.back().text);
}

void TestSpinEditItem::heldButtonRepeatsAtDesignTiming()
{
    const QPoint down = m_field->downButtonRect().center();
    QTest::mousePress(m_field, Qt::LeftButton, {}, down);
    QTRY_VERIFY_WITH_TIMEOUT(m_steps.size() >= 4, 5000);
    QTest::mouseRelease(m_field, Qt::LeftButton, {}, down);
    // Timers may fire a little early (coarse timers allow 5%).
    QVERIFY2(m_steps[1].atMs - m_steps[0].atMs >= 380,
             qPrintable(QString::number(m_steps[1].atMs - m_steps[0].atMs)));
    QVERIFY(m_steps[2].atMs - m_steps[1].atMs >= 90);
    QVERIFY(m_steps[3].atMs - m_steps[2].atMs >= 90);
    QVERIFY(m_steps[2].atMs - m_steps[1].atMs < m_steps[1].atMs - m_steps[0].atMs);
}

void TestSpinEditItem::disabledFieldTakesNoInput()
{
    m_field->setEnabled(false);
    openEditor();
    QVERIFY(!m_field->isEditing());
    QTest::mouseClick(m_field, Qt::LeftButton, {}, m_field->upButtonRect().center());
    m_field->setFocus();
    QTest::keyClick(m_field, Qt::Key_Up);
    QCOMPARE(m_field->text(), QStringLiteral("1.0 s"));
    QVERIFY(m_steps.empty());
    QVERIFY(m_changes.empty());

    // Dimmed: the disabled look differs from the enabled one.
    const QImage disabled = m_field->grab().toImage();
    m_field->setEnabled(true);
    QVERIFY(m_field->grab().toImage() != disabled);
}

void TestSpinEditItem::disablingClosesEditor()
{
    openEditor();
    QTest::keyClicks(editor(), QStringLiteral("3"));
    m_field->setEnabled(false);
    QVERIFY(!m_field->isEditing());
    QCOMPARE(m_field->text(), QStringLiteral("1.0 s"));
}

void TestSpinEditItem::overflowShowsErrorAndKeepsLastValid()
{
    openEditor();
    QTest::keyClicks(editor(), QStringLiteral("2"));
    editor()->selectAll();
    editor()->insert(QStringLiteral("1e4933")); // pasted in one change
    QCOMPARE(m_errors, QStringList{QStringLiteral("Floating point overflow.")});
    QVERIFY(m_field->isEditing());
    QTest::keyClick(editor(), Qt::Key_Return);
    QCOMPARE(m_field->text(), QStringLiteral("2.0 s"));
}

void TestSpinEditItem::keyboardReachesField()
{
    QVERIFY(m_field->focusPolicy() & Qt::TabFocus);
    m_before->setFocus();
    QTRY_VERIFY(m_before->hasFocus());
    QTest::keyClick(m_before, Qt::Key_Tab);
    QVERIFY(m_field->isEditing());
    QCOMPARE(editor()->selectedText(), QStringLiteral("1.0 s"));

    // Esc leaves the focus on the field; arrows step, Enter reopens.
    QTest::keyClick(editor(), Qt::Key_Escape);
    QVERIFY(!m_field->isEditing());
    QTRY_VERIFY(m_field->hasFocus());
    QTest::keyClick(m_field, Qt::Key_Up);
    QCOMPARE(m_field->text(), QStringLiteral("1.1 s"));
    QTest::keyClick(m_field, Qt::Key_Return);
    QVERIFY(m_field->isEditing());
    QTest::keyClick(editor(), Qt::Key_Backtab, Qt::ShiftModifier);
    QVERIFY(!m_field->isEditing());
    QTRY_VERIFY(m_before->hasFocus());
}

void TestSpinEditItem::accessibleTextAndValue()
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(m_field);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::SpinBox);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Take picture every"));
    QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("1.0 s"));
    QAccessibleValueInterface *value = iface->valueInterface();
    QVERIFY(value);
    QCOMPARE(value->currentValue().toDouble(), 1.0);
    QCOMPARE(value->minimumValue().toDouble(), 0.1);
    QCOMPARE(value->maximumValue().toDouble(), 30.0);
    QCOMPARE(value->minimumStepSize().toDouble(), 0.1);

    // Set by assistive technology: written like a step, with OnChange.
    value->setCurrentValue(2.5);
    QCOMPARE(m_field->text(), QStringLiteral("2.5 s"));
    QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("2.5 s"));
    QCOMPARE(m_changes.size(), size_t(1));
}

void TestSpinEditItem::decimalComma()
{
    m_field->setDecimalSeparator(QLatin1Char(','));
    QCOMPARE(m_field->text(), QStringLiteral("1,0 s"));
    openEditor();
    QTest::keyClicks(editor(), QStringLiteral("1,5"));
    QTest::keyClick(editor(), Qt::Key_Return);
    QCOMPARE(m_field->text(), QStringLiteral("1,5 s"));
    QVERIFY(m_field->value() == 1.5L);
}

void TestSpinEditItem::designSize()
{
    TTBXSpinEditItem field;
    QCOMPARE(field.sizeHint().width(), 72);
    QVERIFY(field.sizeHint().height() >= 21);
    QCOMPARE(field.text(), QStringLiteral("0"));
    QVERIFY(field.valueType() == SpinValueType::evtFloat);
}

QTEST_MAIN(TestSpinEditItem)
#include "test_spin_edit_item.moc"
