#include "ui/paint_box.h"

#include "core/error_guard.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace framelog {

namespace {

enum class KeyUse { None, Step, Button };

// What a key does on the box; for an arrow, `step` is the cursor's move.
// Keys with any other modifier are left to the window (Alt+Left is Back).
KeyUse keyUse(const QKeyEvent *key, QPoint &step)
{
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    const int k = key->key();
    if (mods == Qt::NoModifier && (k == Qt::Key_Space || k == Qt::Key_Return || k == Qt::Key_Enter))
        return KeyUse::Button;
    if (mods != Qt::NoModifier && mods != Qt::ShiftModifier)
        return KeyUse::None;
    const QPoint way = k == Qt::Key_Left    ? QPoint(-1, 0)
                       : k == Qt::Key_Right ? QPoint(1, 0)
                       : k == Qt::Key_Up    ? QPoint(0, -1)
                       : k == Qt::Key_Down  ? QPoint(0, 1)
                                            : QPoint();
    step = way * (mods == Qt::ShiftModifier ? 10 : 1);
    return way.isNull() ? KeyUse::None : KeyUse::Step;
}

// The cross-hair: a dark line with a light rim, so it shows on any picture.
// Its arms reach kArm pixels either side of the cursor's own pixel.
constexpr int kArm = 5;

QRect crossRect(QPoint c)
{
    return QRect(c.x() - kArm - 1, c.y() - kArm - 1, 2 * kArm + 3, 2 * kArm + 3);
}

void drawCross(QPainter &painter, QPoint c)
{
    painter.fillRect(c.x() - kArm - 1, c.y() - 1, 2 * kArm + 3, 3, Qt::white);
    painter.fillRect(c.x() - 1, c.y() - kArm - 1, 3, 2 * kArm + 3, Qt::white);
    painter.fillRect(c.x() - kArm, c.y(), 2 * kArm + 1, 1, Qt::black);
    painter.fillRect(c.x(), c.y() - kArm, 1, 2 * kArm + 1, Qt::black);
}

} // namespace

TPaintBox::TPaintBox(QWidget *parent) : QWidget(parent)
{
    // Assistive technology hears of a drawing surface, not a bare client.
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory([](const QString &, QObject *object) -> QAccessibleInterface * {
            if (auto *box = qobject_cast<TPaintBox *>(object))
                return new QAccessibleWidget(box, QAccessible::Canvas);
            return nullptr;
        });
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

QString TPaintBox::keyboardHelp()
{
    return tr("Arrow keys move the keyboard cursor by one pixel, with Shift by ten; Space or "
              "Enter starts a drag there and, pressed again, ends it.");
}

QPoint TPaintBox::keyboardCursor() const
{
    return QPoint(std::clamp(m_cursor.x(), 0, width()), std::clamp(m_cursor.y(), 0, height()));
}

void TPaintBox::setKeyboardCursor(QPoint point)
{
    if (hasFocus())
        update(crossRect(keyboardCursor()));
    m_cursor = point;
    if (hasFocus())
        update(crossRect(keyboardCursor()));
}

// Something else lies over the box (the live page, outside area mode): then
// Tab passes it by and its keys do nothing, so nothing changes unseen.
bool TPaintBox::isCovered() const
{
    if (isWindow())
        return false;
    const QWidget *top = window();
    return top->childAt(mapTo(top, rect().center())) != this;
}

bool TPaintBox::event(QEvent *event)
{
    // During a keyboard drag its keys are the box's, whatever shortcuts say.
    QPoint step;
    if (event->type() == QEvent::ShortcutOverride && m_keyboardDrag && !isCovered() &&
        keyUse(static_cast<QKeyEvent *>(event), step) != KeyUse::None) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void TPaintBox::paintEvent(QPaintEvent *event)
{
    if (OnPaint) {
        m_paintRegion = event->region();
        QPainter painter(this);
        guarded([&] { OnPaint(this, painter); });
        m_paintRegion = QRegion();
    }
    if (hasFocus()) {
        QPainter painter(this); // a fresh one: the handler may have left any state
        drawCross(painter, keyboardCursor());
    }
}

void TPaintBox::mousePressEvent(QMouseEvent *event)
{
    // The mouse takes over: its press goes to the owner as ever.
    m_keyboardDrag = false;
    const QPoint p = event->position().toPoint();
    if (OnMouseDown)
        guarded([&] { OnMouseDown(this, event->button(), event->modifiers(), p.x(), p.y()); });
}

void TPaintBox::mouseMoveEvent(QMouseEvent *event)
{
    // A nudged mouse resting on the box must not pull a keyboard drag's corner.
    if (m_keyboardDrag)
        return;
    const QPoint p = event->position().toPoint();
    if (OnMouseMove)
        guarded([&] { OnMouseMove(this, event->modifiers(), p.x(), p.y()); });
}

void TPaintBox::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseUp)
        guarded([&] { OnMouseUp(this, event->button(), event->modifiers(), p.x(), p.y()); });
}

void TPaintBox::keyPressEvent(QKeyEvent *event)
{
    QPoint step;
    const KeyUse use = isCovered() ? KeyUse::None : keyUse(event, step);
    if (use == KeyUse::None)
        return QWidget::keyPressEvent(event);
    event->accept();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (use == KeyUse::Step) {
        const QPoint from = keyboardCursor();
        setKeyboardCursor(from + step);
        const QPoint to = keyboardCursor();
        if (m_keyboardDrag && to != from && OnMouseMove)
            guarded([&] { OnMouseMove(this, mods, to.x(), to.y()); });
    } else if (event->isAutoRepeat()) {
        return; // a held Space must not start and end drags in turn
    } else if (m_keyboardDrag) {
        endKeyboardDrag(mods);
    } else {
        m_keyboardDrag = true;
        const QPoint p = keyboardCursor();
        if (OnMouseDown)
            guarded([&] { OnMouseDown(this, Qt::LeftButton, mods, p.x(), p.y()); });
    }
}

void TPaintBox::endKeyboardDrag(Qt::KeyboardModifiers modifiers)
{
    m_keyboardDrag = false;
    const QPoint p = keyboardCursor();
    if (OnMouseUp)
        guarded([&] { OnMouseUp(this, Qt::LeftButton, modifiers, p.x(), p.y()); });
}

// The base handlers would repaint the whole box; only the cross-hair changes.
void TPaintBox::focusInEvent(QFocusEvent *event)
{
    const Qt::FocusReason reason = event->reason();
    if (isCovered() && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)) {
        focusNextPrevChild(reason == Qt::TabFocusReason);
        return;
    }
    update(crossRect(keyboardCursor()));
}

void TPaintBox::focusOutEvent(QFocusEvent *)
{
    // Like a button released outside: the drag ends where the cursor is, so
    // the owner is never left dragging with no one to end it.
    if (m_keyboardDrag)
        endKeyboardDrag(Qt::NoModifier);
    update(crossRect(keyboardCursor()));
}

} // namespace framelog
