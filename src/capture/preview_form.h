#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

class QLabel;
class QScrollArea;

namespace framelog {

// The stay-on-top tool window that shows what a capture would take. It lives
// as long as the program; closing it only hides it.
class TPreviewForm : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewForm(QWidget *parent = nullptr);

    QScrollArea *ScrollBox1 = nullptr;
    QLabel *Image1 = nullptr;

    // Puts a copy of `picture` into Image1, which takes the picture's size;
    // the scroll box offers scroll bars when it is larger than the window.
    void setPicture(const QImage &picture);
    QImage picture() const;

    // The close handler: hides the window and tells the owner through
    // OnClose (the main window unchecks its View > Preview item).
    void FormClose();
    std::function<void()> OnClose;

protected:
    void closeEvent(QCloseEvent *event) override;
};

} // namespace framelog
