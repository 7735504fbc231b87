#pragma once

#include "browse/browser_questions.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace framelog {

// Tells about a certificate the browser does not trust (host, subject,
// issuer, validity, the error and the SHA-256 fingerprint) and asks
// whether to go on: "Go back" is the default, "Continue" goes on.
class CertificateDialog : public QDialog {
    Q_OBJECT
public:
    explicit CertificateDialog(const CertificateFacts &facts, QWidget *parent = nullptr);

    QLabel *messageLabel = nullptr;
    // Read-only fields, so that each can be read out and copied.
    QLineEdit *hostEdit = nullptr;
    QLineEdit *subjectEdit = nullptr;
    QLineEdit *issuerEdit = nullptr;
    QLineEdit *validityEdit = nullptr;
    QLineEdit *errorEdit = nullptr;
    QLineEdit *fingerprintEdit = nullptr;
    QPushButton *goBackButton = nullptr;
    QPushButton *continueButton = nullptr;
};

// Asks with the dialog; true when the user chose Continue.
bool askCertificateWithDialog(const CertificateFacts &facts, QWidget *parent);

} // namespace framelog
