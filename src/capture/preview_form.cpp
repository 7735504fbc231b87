#include "capture/preview_form.h"

#include "ui/error_box.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace framelog {

TPreviewForm::TPreviewForm(QWidget *parent) : QWidget(parent, Qt::Tool)
{
    setObjectName(QStringLiteral("PreviewForm"));
    setWindowTitle(tr("Preview"));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setGeometry(230, 384, 334, 274);

    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ScrollBox1->setBackgroundRole(QPalette::Dark); // the workspace colour
    ScrollBox1->horizontalScrollBar()->setTracking(true);
    ScrollBox1->verticalScrollBar()->setTracking(true);

    Image1 = new QLabel;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAccessibleName(tr("Preview picture"));
    Image1->resize(105, 105);
    ScrollBox1->setWidget(Image1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ScrollBox1);
}

void TPreviewForm::setPicture(const QImage &picture)
{
    Image1->setPixmap(QPixmap::fromImage(picture));
    Image1->resize(picture.size());
}

QImage TPreviewForm::picture() const
{
    return Image1->pixmap().toImage();
}

void TPreviewForm::closeEvent(QCloseEvent *event)
{
    event->ignore();
    hide();
    if (OnClose)
        guarded([this] { OnClose(); });
}

} // namespace framelog
