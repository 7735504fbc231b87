#pragma once

#include <QRegion>
#include <QWidget>

#include <functional>

namespace framelog {

// A plain surface whose painting and mouse input are handed to the owner's
// handlers, in the owner's terms (button, modifiers, client x and y).
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

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QRegion m_paintRegion;
};

} // namespace framelog
