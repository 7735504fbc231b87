#pragma once

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QNetworkProxy>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

namespace framelog::test {

// A live camera's server on 127.0.0.1, for pages that must stay live:
//   /mjpeg  a multipart JPEG stream (what `frame` paints, a picture every
//           `periodMs`, the same bytes to every viewer),
//   /ws     a WebSocket that sends a number (`message`) every `periodMs`,
//   other   files from `roots`, first found.
// Each frame and message is made once per period and only while someone
// watches.
class FeedServer : public QObject {
public:
    explicit FeedServer(QStringList roots, QObject *parent = nullptr)
        : QObject(parent), m_roots(std::move(roots))
    {
        m_server.setProxy(QNetworkProxy::NoProxy);
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &FeedServer::send);
    }

    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    void start(int periodMs) { m_timer.start(periodMs); }

    std::function<QImage()> frame;
    std::function<QByteArray()> message;
    int jpegQuality = 90;
    qint64 framesSent = 0;

private:
    void read(QTcpSocket *socket)
    {
        if (m_streams.contains(socket) || m_sockets.contains(socket)) {
            socket->readAll(); // a viewer's WebSocket frames: not used
            return;
        }
        QByteArray &request = m_partial[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QByteArray head = m_partial.take(socket);
        const QByteArray path = head.split(' ').value(1).split('?').value(0);
        if (path == "/mjpeg") {
            socket->write("HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\n"
                          "Content-Type: multipart/x-mixed-replace; boundary=frame\r\n\r\n");
            m_streams << socket;
        } else if (path == "/ws") {
            QByteArray key;
            for (const QByteArray &line : head.split('\n'))
                if (line.toLower().startsWith("sec-websocket-key:"))
                    key = line.mid(18).trimmed();
            const QByteArray accept =
                QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11",
                                         QCryptographicHash::Sha1)
                    .toBase64();
            socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\nSec-WebSocket-Accept: " +
                          accept + "\r\n\r\n");
            m_sockets << socket;
        } else {
            serveFile(socket, QString::fromUtf8(QByteArray::fromPercentEncoding(path)));
        }
    }

    void serveFile(QTcpSocket *socket, const QString &path)
    {
        QByteArray body;
        bool found = false;
        for (const QString &root : std::as_const(m_roots)) {
            QFile file(QDir(root).filePath(path.mid(1)));
            if (!path.contains(QLatin1String("..")) && file.open(QIODevice::ReadOnly)) {
                body = file.readAll();
                found = true;
                break;
            }
        }
        const auto type = [&]() -> QByteArray {
            if (path.endsWith(QLatin1String(".html")))
                return "text/html; charset=utf-8";
            if (path.endsWith(QLatin1String(".js")))
                return "text/javascript";
            if (path.endsWith(QLatin1String(".m3u8")))
                return "application/vnd.apple.mpegurl";
            if (path.endsWith(QLatin1String(".ts")))
                return "video/mp2t";
            if (path.endsWith(QLatin1String(".mp4")) || path.endsWith(QLatin1String(".m4s")))
                return "video/mp4";
            return "application/octet-stream";
        };
        socket->write((found ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                      QByteArray("Content-Type: ") + type() +
                      "\r\nCache-Control: no-cache\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    void send()
    {
        prune(m_streams);
        prune(m_sockets);
        if (!m_streams.isEmpty() && frame) {
            QByteArray jpeg;
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            frame().save(&buffer, "JPEG", jpegQuality);
            const QByteArray part = "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                    QByteArray::number(jpeg.size()) + "\r\n\r\n" + jpeg + "\r\n";
            for (QTcpSocket *socket : std::as_const(m_streams))
                // A viewer that does not read is not sent more than a few.
                if (socket->bytesToWrite() < 8 * part.size())
                    socket->write(part);
            ++framesSent;
        }
        if (!m_sockets.isEmpty() && message) {
            const QByteArray text = message();
            QByteArray wsFrame;
            wsFrame.append(char(0x81)); // the last fragment of a text message
            wsFrame.append(char(text.size()));
            wsFrame += text;
            for (QTcpSocket *socket : std::as_const(m_sockets))
                socket->write(wsFrame);
        }
    }

    static void prune(QList<QPointer<QTcpSocket>> &sockets)
    {
        sockets.removeIf([](const QPointer<QTcpSocket> &s) {
            return !s || s->state() != QAbstractSocket::ConnectedState;
        });
    }

    QTcpServer m_server;
    QTimer m_timer;
    QStringList m_roots;
    QHash<QTcpSocket *, QByteArray> m_partial;
    QList<QPointer<QTcpSocket>> m_streams;
    QList<QPointer<QTcpSocket>> m_sockets;
};

} // namespace framelog::test
