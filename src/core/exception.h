#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace framelog {

// Every failure the program raises carries a user-facing message; the one
// error guard (error_guard.h) shows it. Subclasses name the kind of failure.
class Exception : public std::exception {
public:
    explicit Exception(QString message) : m_message(std::move(message)), m_what(m_message.toUtf8())
    {
    }
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    QByteArray m_what;
};

// Resource exhaustion: no timer, no pixel storage.
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

// A drawing surface refused an operation ("Canvas does not allow drawing").
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// A property write outside what the control accepts.
class EPropertyError : public Exception {
public:
    using Exception::Exception;
};

// A number left the extended range (parsing, unit conversion).
class EOverflow : public Exception {
public:
    EOverflow() : Exception(QStringLiteral("Floating point overflow")) {}
};

} // namespace framelog
