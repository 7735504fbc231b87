// The engine's questions to the browser control's user: logins and
// untrusted certificates, and the words for a failed load.
#include "browse/web_engine_browser.h"

#include "core/secrets.h"

#include <QAuthenticator>
#include <QCryptographicHash>
#include <QSslCertificate>
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace framelog {

namespace {

QString hostText(const QUrl &url)
{
    return url.port() < 0 ? url.host() : QStringLiteral("%1:%2").arg(url.host()).arg(url.port());
}

QString nameOf(const QStringList &commonNames, const QString &whole)
{
    return commonNames.isEmpty() ? whole : commonNames.join(QStringLiteral(", "));
}

// The reason phrases of the statuses a camera is likely to answer.
const char *httpStatusName(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 407:
        return "Proxy Authentication Required";
    case 408:
        return "Request Timeout";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return nullptr;
    }
}

CertificateFacts factsOf(const QWebEngineCertificateError &error)
{
    CertificateFacts facts;
    facts.url = QUrl(withoutPassword(error.url()));
    facts.host = hostText(error.url());
    facts.error = error.description();
    facts.overridable = error.isOverridable();
    const QList<QSslCertificate> chain = error.certificateChain();
    if (!chain.isEmpty()) {
        const QSslCertificate &own = chain.constFirst();
        facts.subject =
            nameOf(own.subjectInfo(QSslCertificate::CommonName), own.subjectDisplayName());
        facts.issuer = nameOf(own.issuerInfo(QSslCertificate::CommonName), own.issuerDisplayName());
        facts.validFrom = own.effectiveDate();
        facts.validUntil = own.expiryDate();
        facts.sha256 = own.digest(QCryptographicHash::Sha256);
    }
    return facts;
}

} // namespace

void WebEngineBrowser::connectQuestions(QWebEnginePage *page)
{
    connect(page, &QWebEnginePage::authenticationRequired, this,
            [this](const QUrl &url, QAuthenticator *authenticator) {
                askLogin(url, authenticator, QString());
            });
    connect(page, &QWebEnginePage::proxyAuthenticationRequired, this,
            [this](const QUrl &url, QAuthenticator *authenticator, const QString &proxyHost) {
                askLogin(url, authenticator, proxyHost);
            });
    connect(page, &QWebEnginePage::certificateError, this,
            [this](const QWebEngineCertificateError &error) { askCertificate(error); });
}

void WebEngineBrowser::askLogin(const QUrl &url, QAuthenticator *authenticator,
                                const QString &proxyHost)
{
    AuthChallenge challenge;
    challenge.url = QUrl(withoutPassword(url));
    challenge.proxy = !proxyHost.isEmpty();
    challenge.host = challenge.proxy ? proxyHost : hostText(url);
    challenge.realm = authenticator->realm();
    // The engine asks again, within the same load, when an answer failed.
    const QString key = QString::number(int(challenge.proxy)) + challenge.host + QLatin1Char('\n') +
                        challenge.realm;
    challenge.refused = m_loginAnswers.value(key);
    emit AuthenticationRequired(challenge);
    if (!challenge.answered) {
        // A null authenticator cancels: the page shows the server's answer.
        *authenticator = QAuthenticator();
        return;
    }
    ++m_loginAnswers[key];
    authenticator->setUser(challenge.user);
    authenticator->setPassword(challenge.password);
}

void WebEngineBrowser::askCertificate(const QWebEngineCertificateError &error)
{
    const CertificateFacts facts = factsOf(error);
    const QString refusal = QStringLiteral("untrusted certificate (%1), SHA-256 %2")
                                .arg(facts.error, fingerprintText(facts.sha256));
    if (!facts.overridable) {
        // Nothing may let this one through: refused when this returns.
        m_refusedCertificate = refusal;
        return;
    }
    // The handler may open a dialog: it runs from the event loop, and the
    // engine waits for the answer.
    QWebEngineCertificateError deferred = error;
    deferred.defer();
    QMetaObject::invokeMethod(
        this,
        [this, deferred, facts, refusal]() mutable {
            bool accept = false;
            emit CertificateError(facts, accept);
            if (accept) {
                deferred.acceptCertificate();
            } else {
                m_refusedCertificate = refusal;
                deferred.rejectCertificate();
            }
        },
        Qt::QueuedConnection);
}

QString WebEngineBrowser::failureText(const QWebEngineLoadingInfo &info) const
{
    switch (info.errorDomain()) {
    case QWebEngineLoadingInfo::HttpStatusCodeDomain: {
        // The engine's text here is advice for a browser's user ("If the
        // problem continues..."); the status's own name says more.
        const char *name = httpStatusName(info.errorCode());
        return QStringLiteral("HTTP %1").arg(info.errorCode()) +
               (name ? QLatin1Char(' ') + QLatin1String(name) : QString());
    }
    case QWebEngineLoadingInfo::CertificateErrorDomain:
        if (!m_refusedCertificate.isEmpty())
            return m_refusedCertificate;
        break;
    default:
        break;
    }
    return info.errorString().isEmpty() ? QStringLiteral("error %1").arg(info.errorCode())
                                        : info.errorString();
}

} // namespace framelog
