#include "capture/preview_form.h"

#include "core/error_guard.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace framelog {

namespace {
// The design's client area inside its 342 x 301 tool-window frame; the frame
// itself is the window manager's.
constexpr QPoint kDesignPosition(230, 384);
constexpr QSize kDesignClientSize(334, 274);
} // namespace

TPreviewForm::TPreviewForm(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("PreviewForm"));
    setWindowTitle(QStringLiteral("Preview"));
    move(kDesignPosition); // a top-level window's position is its frame's
    resize(kDesignClientSize);

    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setWidgetResizable(false); // the image keeps its picture's size
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Qt's application-workspace background (as QMdiArea draws it).
    ScrollBox1->setBackgroundRole(QPalette::Dark);
    ScrollBox1->viewport()->setBackgroundRole(QPalette::Dark);
    ScrollBox1->viewport()->setAutoFillBackground(true);
    ScrollBox1->horizontalScrollBar()->setTracking(true);
    ScrollBox1->verticalScrollBar()->setTracking(true);

    Image1 = new QLabel;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAccessibleName(tr("Preview picture"));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->resize(105, 105);
    ScrollBox1->setWidget(Image1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ScrollBox1);
}

void TPreviewForm::setPicture(const QImage &picture)
{
    // A picture in device pixels is shown at its logical size, every pixel
    // on one of the screen's.
    Image1->setPixmap(QPixmap::fromImage(picture));
    Image1->resize(picture.deviceIndependentSize().toSize());
}

QImage TPreviewForm::picture() const
{
    return Image1->pixmap().toImage();
}

void TPreviewForm::FormClose()
{
    hide();
    if (OnClose)
        OnClose();
}

void TPreviewForm::closeEvent(QCloseEvent *event)
{
    // Not a real close: the window stays alive for the next View > Preview,
    // and the application does not count it as its last window closing.
    event->ignore();
    guarded([this] { FormClose(); });
}

} // namespace framelog
