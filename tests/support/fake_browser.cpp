#include "fake_browser.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>

namespace framelog::test {

QRgb FakePage::pixelAt(int x, int y)
{
    return qRgb(x % 256, y % 256, (x / 256 * 64 + y / 256 * 16) % 256);
}

QImage FakePage::picture(const QRect &area)
{
    QImage picture(area.size(), QImage::Format_RGB32);
    for (int y = 0; y < area.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < area.width(); ++x)
            line[x] = pixelAt(area.left() + x, area.top() + y);
    }
    return picture;
}

void FakePage::paintEvent(QPaintEvent *event)
{
    const QRect area = event->rect();
    QPainter(this).drawImage(area.topLeft(), picture(area));
}

FakeBrowser::FakeBrowser(QObject *parent) : TBrowserControl(parent), page(new FakePage)
{
    page->setObjectName(QStringLiteral("FakePage"));
}

FakeBrowser::~FakeBrowser()
{
    // The window normally owns the page through its layout; a bare fake does.
    if (page && !page->parent())
        delete page;
}

} // namespace framelog::test
