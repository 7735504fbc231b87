#include "record/return_watch.h"

#include <QNetworkProxy>
#include <QTcpSocket>

#include <utility>

namespace framelog {

ReturnWatch::ReturnWatch(QObject *parent, int everyMs) : QObject(parent)
{
    m_timer.setInterval(everyMs);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ReturnWatch::knock);
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kKnockTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] { answered(false); });
}

ReturnWatch::~ReturnWatch()
{
    stop();
}

void ReturnWatch::watch(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if ((scheme != u"http" && scheme != u"https") || url.host().isEmpty()) {
        stop();
        return;
    }
    const quint16 port = quint16(url.port(scheme == u"https" ? 443 : 80));
    if (watching() && url.host() == m_host && port == m_port)
        return;
    stop();
    m_host = url.host();
    m_port = port;
    m_sawClosed = false;
    m_timer.start();
}

void ReturnWatch::stop()
{
    m_timer.stop();
    m_timeout.stop();
    drop();
}

void ReturnWatch::drop()
{
    if (QTcpSocket *socket = std::exchange(m_socket, nullptr)) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void ReturnWatch::knock()
{
    m_socket = new QTcpSocket(this);
    // Straight to the camera: a proxy's answer says nothing of it.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    connect(m_socket, &QTcpSocket::connected, this, [this] { answered(true); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] { answered(false); });
    m_timeout.start();
    m_socket->connectToHost(m_host, m_port);
}

void ReturnWatch::answered(bool open)
{
    if (!m_socket)
        return;
    m_timeout.stop();
    drop();
    if (open && m_sawClosed) {
        emit cameBack();
        return;
    }
    m_sawClosed = m_sawClosed || !open;
    m_timer.start();
}

} // namespace framelog
