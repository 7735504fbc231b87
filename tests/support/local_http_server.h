#pragma once

#include <QHostAddress>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

namespace framelog::test {

// A one-page HTTP server that counts the requests it gets and keeps their
// paths. "{path}" in the page stands for the path asked for. It listens on
// 127.0.0.1 unless given another address of the machine.
class LocalHttpServer : public QObject {
    Q_OBJECT
public:
    explicit LocalHttpServer(QByteArray html, QObject *parent = nullptr,
                             const QHostAddress &address = QHostAddress(QHostAddress::LocalHost),
                             QByteArray extraHeaders = {})
        : QObject(parent), m_html(std::move(html)), m_headers(std::move(extraHeaders)),
          m_address(address)
    {
        // The program may have made an application-wide proxy (its offline
        // gate); a server never listens through it.
        m_server.setProxy(QNetworkProxy::NoProxy);
        m_server.listen(address);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request = socket->readAll();
                    if (!request.contains("\r\n\r\n"))
                        return;
                    ++requests;
                    const QByteArray path = request.split(' ').value(1);
                    paths << QString::fromLatin1(path);
                    QByteArray page = m_html;
                    page.replace("{path}", path);
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" + m_headers +
                                  "Connection: close\r\nContent-Length: " +
                                  QByteArray::number(page.size()) + "\r\n\r\n" + page);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url(const QString &path = QStringLiteral("/")) const
    {
        QString host = m_address.toString();
        if (m_address.protocol() == QAbstractSocket::IPv6Protocol)
            host = u'[' + host + u']';
        return QStringLiteral("http://%1:%2%3").arg(host).arg(m_server.serverPort()).arg(path);
    }
    // An IPv4 address of this machine other than loopback (which browsers
    // never send through a proxy), or a null one.
    static QHostAddress ownAddress()
    {
        for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback() &&
                !address.isLinkLocal())
                return address;
        }
        return {};
    }
    int requests = 0;
    QStringList paths;

private:
    QTcpServer m_server;
    QByteArray m_html;
    QByteArray m_headers;
    QHostAddress m_address;
};

} // namespace framelog::test
