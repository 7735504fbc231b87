#pragma once

#include <QByteArray>
#include <QString>

namespace framelog {

// The certificates a user chose to trust in the window despite the
// browser, each for one host and SHA-256 fingerprint: the next start does
// not ask again, and a changed certificate asks anew. Kept in the user's
// configuration as lines "HOST FINGERPRINT" (fingerprints as
// fingerprintText writes them); the file is read at every question, so
// two windows see each other's choices, and written whole.
class CertificateExceptions {
public:
    explicit CertificateExceptions(QString path = defaultPath());

    // <XDG config folder>/framelog/trusted-certificates, as the
    // environment says now.
    static QString defaultPath();

    bool contains(const QString &host, const QByteArray &sha256) const;
    // Throws Exception when the file cannot be written.
    void add(const QString &host, const QByteArray &sha256);

    const QString &path() const { return m_path; }

private:
    QString m_path;
};

} // namespace framelog
