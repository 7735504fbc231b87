#include "ui/error_box.h"

#include <QApplication>
#include <QMessageBox>

namespace framelog {

void showErrorMessageBox(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, kApplicationTitle, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace framelog
