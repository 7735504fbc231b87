#include "ui/icons.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

namespace framelog {

namespace {

QIcon themed(const char *name, QStyle::StandardPixmap fallback)
{
    return QIcon::fromTheme(QLatin1String(name), QApplication::style()->standardIcon(fallback));
}

template <class Draw> QIcon drawn(int size, Draw draw)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter, size);
    return QIcon(pixmap);
}

QIcon areaIcon()
{
    return drawn(16, [](QPainter &p, int) {
        p.setPen(QPen(QColor(40, 40, 40), 1, Qt::DashLine));
        p.drawRect(QRectF(2.5, 3.5, 11, 9));
        p.setPen(QPen(QColor(0, 90, 200), 1.5));
        p.drawLine(QPointF(1, 1), QPointF(5, 1));
        p.drawLine(QPointF(1, 1), QPointF(1, 5));
    });
}

QIcon captureIcon()
{
    return drawn(16, [](QPainter &p, int) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(60, 60, 60));
        p.drawRoundedRect(QRectF(1, 4, 14, 10), 2, 2);
        p.drawRect(QRectF(5, 2, 6, 3));
        p.setBrush(QColor(230, 240, 255));
        p.drawEllipse(QPointF(8, 9), 3.2, 3.2);
        p.setBrush(QColor(200, 30, 30));
        p.drawEllipse(QPointF(13, 6), 1.2, 1.2);
    });
}

QIcon browseIcon()
{
    return drawn(16, [](QPainter &p, int) {
        p.setPen(QColor(120, 90, 20));
        p.setBrush(QColor(240, 200, 90));
        p.drawRect(QRectF(1.5, 4.5, 13, 9));
        p.drawRect(QRectF(1.5, 2.5, 5, 2));
    });
}

} // namespace

QList<QIcon> standardToolbarIcons()
{
    return {
        themed("go-previous", QStyle::SP_ArrowBack),
        themed("go-next", QStyle::SP_ArrowForward),
        themed("process-stop", QStyle::SP_BrowserStop),
        themed("view-refresh", QStyle::SP_BrowserReload),
        themed("go-home", QStyle::SP_DirHomeIcon),
        areaIcon(),
        captureIcon(),
        browseIcon(),
    };
}

QIcon goButtonIcon()
{
    return drawn(20, [](QPainter &p, int s) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 140, 60));
        p.drawEllipse(QRectF(1, 1, s - 2, s - 2));
        p.setBrush(Qt::white);
        const QPointF arrow[] = {{7, 5}, {15, 10}, {7, 15}};
        p.drawPolygon(arrow, 3);
    });
}

QIcon applicationIcon()
{
    return captureIcon();
}

} // namespace framelog
