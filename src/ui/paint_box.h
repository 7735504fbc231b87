#pragma once

#include <QPoint>
#include <QRegion>
#include <QWidget>

#include <functional>

namespace framelog {

// A plain surface whose painting and mouse input are handed to the owner's
// handlers, in the owner's terms (button, modifiers, client x and y).
//
// It works from the keyboard too, through the same handlers: while it has the
// focus a small cross-hair shows the keyboard cursor; the arrow keys move it by
// one pixel (Shift: ten), and Space or Enter presses and, pressed again,
// releases the left button there. The owner sees a drag exactly as if made
// with the mouse.
class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget *parent = nullptr);

    std::function<void(TPaintBox *sender, QPainter &painter)> OnPaint;
    std::function<void(TPaintBox *sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                       int x, int y)>
        OnMouseDown;
    std::function<void(TPaintBox *sender, Qt::KeyboardModifiers shift, int x, int y)> OnMouseMove;
    std::function<void(TPaintBox *sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                       int x, int y)>
        OnMouseUp;

    // While OnPaint runs: the part of the box that this paint must cover. A
    // handler draws only what lies in it, so a small update costs little.
    const QRegion &paintRegion() const { return m_paintRegion; }

    // The keyboard cursor, within 0..width and 0..height (both ends included,
    // as a selection's right and bottom edges are exclusive). A point set
    // before the box has its size is kept and limited when it is used.
    QPoint keyboardCursor() const;
    void setKeyboardCursor(QPoint point);
    bool keyboardDragging() const { return m_keyboardDrag; }
    // How the keys work, for the owner's accessible description.
    static QString keyboardHelp();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    bool isCovered() const;
    void endKeyboardDrag(Qt::KeyboardModifiers modifiers);

    QRegion m_paintRegion;
    QPoint m_cursor;
    bool m_keyboardDrag = false;
};

} // namespace framelog
