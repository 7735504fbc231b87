#pragma once

#include "browse/browser_questions.h"

#include <QDialog>

class QLabel;
class QLineEdit;

namespace framelog {

// Asks for a user name and password for a server's (or a proxy's) login,
// naming the host and realm; after a refused answer it says so first.
class LoginDialog : public QDialog {
    Q_OBJECT
public:
    explicit LoginDialog(const AuthChallenge &challenge, QWidget *parent = nullptr);

    QString user() const;
    QString password() const;

    QLabel *messageLabel = nullptr;
    QLabel *failureLabel = nullptr;
    QLineEdit *userEdit = nullptr;
    QLineEdit *passwordEdit = nullptr;
};

// Asks with the dialog; true, with the user and password in `challenge`,
// when the user pressed OK.
bool askLoginWithDialog(AuthChallenge &challenge, QWidget *parent);

} // namespace framelog
