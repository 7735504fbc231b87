#pragma once

// An X server of the test's own (Xvfb), for tests of what the window system
// shows. Start it before the QApplication, which then uses it through xcb.

#include <QApplication>
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <cstdio>

namespace framelog::test {

class XServer {
public:
    // Starts Xvfb on a free display and points DISPLAY and Qt's platform at
    // it; false (with a message on standard error) when it cannot.
    bool start()
    {
        // Xvfb picks a free display and writes its number to standard output.
        // It ends once its last client has gone, so a test that dies leaves no
        // server behind.
        m_process.start(QStringLiteral("Xvfb"),
                        {QStringLiteral("-terminate"), QStringLiteral("-displayfd"),
                         QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                         QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp")});
        if (!m_process.waitForStarted(10000)) {
            std::fputs("Xvfb did not start; scripts/setup.sh installs it (xvfb)\n", stderr);
            return false;
        }
        QByteArray number;
        while (!number.contains('\n') && m_process.waitForReadyRead(20000))
            number += m_process.readAllStandardOutput();
        number = number.trimmed();
        if (number.isEmpty()) {
            std::fputs("Xvfb gave no display number\n", stderr);
            return false;
        }
        m_display = ':' + number;
        qputenv("DISPLAY", m_display);
        qputenv("QT_QPA_PLATFORM", "xcb");
        return true;
    }

    ~XServer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(10000))
                m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    QByteArray display() const { return m_display; }

    // A window's text property as xprop prints it (NAME = "...", or nothing
    // after the "=" for an empty text), the value only; "<none>" when the
    // window has no such property.
    QString property(quint64 window, const QString &name) const
    {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"),
                    {QStringLiteral("-display"), QString::fromLatin1(m_display),
                     QStringLiteral("-notype"), QStringLiteral("-id"), QString::number(window),
                     name});
        if (!xprop.waitForFinished(10000))
            return QStringLiteral("<xprop did not finish>");
        const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
        const QString head = name + QStringLiteral(" =");
        if (!out.startsWith(head))
            return QStringLiteral("<none>");
        const QString value = out.mid(head.size()).trimmed(); // an empty text shows as nothing
        if (value.isEmpty())
            return QStringLiteral("");
        if (value.size() < 2 || !value.startsWith(u'"') || !value.endsWith(u'"'))
            return QStringLiteral("<not a text>");
        return value.mid(1, value.size() - 2);
    }

private:
    QProcess m_process;
    QByteArray m_display;
};

// The X server first, then the application on it, set up by `setUp` as
// the program sets itself up; `server` is the tests' way to the server.
template <class Test, class SetUp>
int runOnXServer(int argc, char *argv[], XServer *&server, SetUp setUp)
{
    XServer x;
    if (!x.start())
        return 1;
    server = &x;
    QApplication app(argc, argv);
    setUp();
    Test test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace framelog::test
