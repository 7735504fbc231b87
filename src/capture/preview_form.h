#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QScrollArea;

namespace framelog {

// The stay-on-top tool window that shows what a capture would take. Closing
// it only hides it.
class TPreviewForm : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewForm(QWidget *parent = nullptr);

    QScrollArea *ScrollBox1 = nullptr;
    QLabel *Image1 = nullptr;

    // Puts a picture into Image1, which takes the picture's size.
    void setPicture(const QImage &picture);
    QImage picture() const;

    // Called when the user closes the window (it is hidden, not destroyed).
    std::function<void()> OnClose;

protected:
    void closeEvent(QCloseEvent *event) override;
};

} // namespace framelog
