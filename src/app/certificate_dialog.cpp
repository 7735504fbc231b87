#include "app/certificate_dialog.h"

#include "core/secrets.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace framelog {

namespace {

QString dateText(const QDateTime &when)
{
    return when.isValid() ? QLocale().toString(when.toLocalTime(), QLocale::ShortFormat)
                          : QStringLiteral("?");
}

} // namespace

CertificateDialog::CertificateDialog(const CertificateFacts &facts, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("CertificateDialog"));
    setWindowTitle(tr("Certificate not trusted"));

    messageLabel = new QLabel(this);
    messageLabel->setObjectName(QStringLiteral("CertificateMessageLabel"));
    messageLabel->setWordWrap(true);
    messageLabel->setTextFormat(Qt::PlainText);
    messageLabel->setText(
        tr("The browser does not trust the certificate of %1. Continue only when its "
           "fingerprint is the one your device shows.")
            .arg(facts.host));

    auto *fields = new QFormLayout;
    const auto row = [&](const QString &caption, const char *name, const QString &text) {
        auto *edit = new QLineEdit(text, this);
        edit->setObjectName(QLatin1String(name));
        edit->setReadOnly(true);
        edit->setCursorPosition(0);
        auto *label = new QLabel(caption, this);
        label->setBuddy(edit);
        edit->setAccessibleName(QString(caption).remove(QLatin1Char('&')).remove(QLatin1Char(':')));
        fields->addRow(label, edit);
        return edit;
    };
    hostEdit = row(tr("&Host:"), "CertificateHostEdit", facts.host);
    subjectEdit = row(tr("Issued &to:"), "CertificateSubjectEdit", facts.subject);
    issuerEdit = row(tr("&Issued by:"), "CertificateIssuerEdit", facts.issuer);
    validityEdit = row(tr("&Valid:"), "CertificateValidityEdit",
                       tr("%1 to %2").arg(dateText(facts.validFrom), dateText(facts.validUntil)));
    errorEdit = row(tr("&Error:"), "CertificateErrorEdit", facts.error);
    fingerprintEdit = row(tr("SHA-256 &fingerprint:"), "CertificateFingerprintEdit",
                          fingerprintText(facts.sha256));
    fingerprintEdit->setMinimumWidth(
        fingerprintEdit->fontMetrics().horizontalAdvance(fingerprintEdit->text()) + 16);

    auto *buttons = new QDialogButtonBox(this);
    buttons->setObjectName(QStringLiteral("CertificateButtons"));
    goBackButton = buttons->addButton(tr("&Go back"), QDialogButtonBox::RejectRole);
    goBackButton->setObjectName(QStringLiteral("CertificateGoBackButton"));
    continueButton = buttons->addButton(tr("&Continue"), QDialogButtonBox::AcceptRole);
    continueButton->setObjectName(QStringLiteral("CertificateContinueButton"));
    // Enter goes back: going on takes a deliberate choice.
    continueButton->setAutoDefault(false);
    goBackButton->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(messageLabel);
    layout->addLayout(fields);
    layout->addWidget(buttons);
    goBackButton->setFocus();
}

bool askCertificateWithDialog(const CertificateFacts &facts, QWidget *parent)
{
    CertificateDialog dialog(facts, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace framelog
