#include "ui/elided_label.h"

#include <QPainter>

namespace framelog {

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString &text)
{
    m_text = text;
    setText(text); // keeps accessibility and tooltips on the full text
    update();
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {0, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(m_text, Qt::ElideRight, area.width());
    painter.drawText(area, int(alignment()), shown);
}

} // namespace framelog
