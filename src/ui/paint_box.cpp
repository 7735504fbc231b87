#include "ui/paint_box.h"

#include "ui/error_box.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace framelog {

TPaintBox::TPaintBox(QWidget *parent) : QWidget(parent)
{
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
}

void TPaintBox::paintEvent(QPaintEvent *event)
{
    if (!OnPaint)
        return;
    m_paintRegion = event->region();
    QPainter painter(this);
    guarded([&] { OnPaint(this, painter); });
    m_paintRegion = QRegion();
}

void TPaintBox::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseDown)
        guarded([&] { OnMouseDown(this, event->button(), event->modifiers(), p.x(), p.y()); });
}

void TPaintBox::mouseMoveEvent(QMouseEvent *event)
{
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

} // namespace framelog
