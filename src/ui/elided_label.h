#pragma once

#include <QLabel>

namespace framelog {

// A one-line label that cuts a text too long for it with an ellipsis at the
// end; text() is always the full text.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    QString fullText() const { return m_text; }
    void setFullText(const QString &text);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
};

} // namespace framelog
