#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QUrl>

namespace framelog {

// A server (or a proxy) asks for a user name and password: HTTP Basic,
// Digest or whatever the engine negotiates. The handler answers by setting
// `answered` with the user and password; left unanswered, the login is
// cancelled and the page shows the server's own answer.
struct AuthChallenge {
    // The address that asked, without a password.
    QUrl url;
    // host:port of the server, or of the proxy.
    QString host;
    QString realm;
    bool proxy = false;
    // How many answers to this same challenge were refused since the page
    // began loading: each time it asks again, the answer before failed.
    int refused = 0;

    bool answered = false;
    QString user;
    QString password;
};

// A certificate the engine does not trust, for the one who decides.
struct CertificateFacts {
    QUrl url;
    QString host;
    // The certificate's subject and issuer (common names, or the whole
    // names when they have none).
    QString subject;
    QString issuer;
    QDateTime validFrom;
    QDateTime validUntil;
    // The engine's words for what is wrong ("The certificate is not
    // trusted...").
    QString error;
    // SHA-256 of the server's own certificate (DER).
    QByteArray sha256;
    // False when nothing may override the error (HSTS, a pinned site).
    bool overridable = true;
};

} // namespace framelog

Q_DECLARE_METATYPE(framelog::CertificateFacts)
