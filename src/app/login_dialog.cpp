#include "app/login_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace framelog {

LoginDialog::LoginDialog(const AuthChallenge &challenge, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("LoginDialog"));
    setWindowTitle(challenge.proxy ? tr("Proxy login") : tr("Log in"));

    failureLabel = new QLabel(this);
    failureLabel->setObjectName(QStringLiteral("LoginFailureLabel"));
    failureLabel->setWordWrap(true);
    failureLabel->setText(tr("The user name or password was not accepted. Try again."));
    failureLabel->setVisible(challenge.refused > 0);

    messageLabel = new QLabel(this);
    messageLabel->setObjectName(QStringLiteral("LoginMessageLabel"));
    messageLabel->setWordWrap(true);
    messageLabel->setTextFormat(Qt::PlainText);
    const QString who = challenge.proxy ? tr("The proxy %1").arg(challenge.host) : challenge.host;
    messageLabel->setText(challenge.realm.isEmpty()
                              ? tr("%1 asks for a user name and password.").arg(who)
                              : tr("%1 asks for a user name and password. It says: \"%2\"")
                                    .arg(who, challenge.realm));

    userEdit = new QLineEdit(this);
    userEdit->setObjectName(QStringLiteral("LoginUserEdit"));
    passwordEdit = new QLineEdit(this);
    passwordEdit->setObjectName(QStringLiteral("LoginPasswordEdit"));
    passwordEdit->setEchoMode(QLineEdit::Password);

    auto *userLabel = new QLabel(tr("&User name:"), this);
    userLabel->setBuddy(userEdit);
    auto *passwordLabel = new QLabel(tr("&Password:"), this);
    passwordLabel->setBuddy(passwordEdit);
    userEdit->setAccessibleName(tr("User name"));
    passwordEdit->setAccessibleName(tr("Password"));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("LoginButtons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *fields = new QFormLayout;
    fields->addRow(userLabel, userEdit);
    fields->addRow(passwordLabel, passwordEdit);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(failureLabel);
    layout->addWidget(messageLabel);
    layout->addLayout(fields);
    layout->addWidget(buttons);

    // Asked again, the user name stands: only the password is wrong, mostly.
    userEdit->setText(challenge.user);
    (challenge.user.isEmpty() ? userEdit : passwordEdit)->setFocus();
}

QString LoginDialog::user() const
{
    return userEdit->text();
}

QString LoginDialog::password() const
{
    return passwordEdit->text();
}

bool askLoginWithDialog(AuthChallenge &challenge, QWidget *parent)
{
    LoginDialog dialog(challenge, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    challenge.user = dialog.user();
    challenge.password = dialog.password();
    return true;
}

} // namespace framelog
