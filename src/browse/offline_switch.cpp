#include "browse/offline_switch.h"

#include "browse/offline_gate.h"
#include "browse/page_sockets.h"

#include <QNetworkProxy>
#include <QRandomGenerator>

namespace framelog {

namespace {

const QString kProbePath = QStringLiteral("/framelog-probe/");

// The application's proxy while controls hold the gate, and before.
int gateHolders = 0;
QNetworkProxy proxyBefore;

} // namespace

OfflineSwitch::OfflineSwitch(Hooks hooks, QObject *parent)
    : QObject(parent), m_hooks(std::move(hooks))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { probe(); });
}

OfflineSwitch::~OfflineSwitch()
{
    releaseGate();
}

bool OfflineSwitch::engineTakesApplicationProxy()
{
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    for (const char *flag :
         {"--proxy-server", "--no-proxy-server", "--proxy-pac-url", "--proxy-auto-detect"}) {
        if (flags.contains(flag))
            return false;
    }
    return true;
}

void OfflineSwitch::noteOnlineUse()
{
    if (!m_offline)
        m_usedOnline = true;
}

void OfflineSwitch::setOffline(bool offline)
{
    if (offline == m_offline)
        return;
    m_offline = offline;
    if (!offline) {
        m_retry.stop();
        m_token.clear();
        releaseGate();
        setState(OfflineState::Online);
        if (m_hooks.tellPages)
            m_hooks.tellPages(false);
        return;
    }
    setState(OfflineState::Offline);
    if (m_hooks.tellPages)
        m_hooks.tellPages(true);
    // Never online: nothing cached, nothing open, no gate needed.
    if (!m_usedOnline)
        return;
    if (engineTakesApplicationProxy() && OfflineGate::instance().isListening())
        holdGate();
    const page_sockets::Cut cut = page_sockets::cutAll();
    Q_UNUSED(cut);
    if (m_holdsGate) {
        m_token = QByteArray::number(QRandomGenerator::global()->generate64(), 16);
        m_probes = 0;
        probe();
    }
}

bool OfflineSwitch::isProbe(const QUrl &url) const
{
    return m_holdsGate && !m_token.isEmpty() && url.scheme() == u"http" &&
           url.host() == u"0.0.0.0" && url.port() == OfflineGate::instance().port() &&
           url.path() == kProbePath + QString::fromLatin1(m_token);
}

void OfflineSwitch::probe()
{
    if (!m_offline || !m_holdsGate || m_state == OfflineState::OfflineBehindGate)
        return;
    if (++m_probes > kMaxProbes)
        return; // the engine never took the gate: everything stays refused
    m_retry.start(kProbeRetryMs);
    if (m_hooks.probe)
        m_hooks.probe(QUrl(QStringLiteral("http://0.0.0.0:%1%2%3")
                               .arg(OfflineGate::instance().port())
                               .arg(kProbePath, QString::fromLatin1(m_token))));
}

void OfflineSwitch::probeSeen(const QByteArray &token, bool throughGate)
{
    if (token != m_token || !m_offline)
        return;
    if (!throughGate) {
        probe(); // it looked at the proxy just now: ask again
        return;
    }
    m_retry.stop();
    setState(OfflineState::OfflineBehindGate);
}

void OfflineSwitch::holdGate()
{
    OfflineGate &gate = OfflineGate::instance();
    gate.close();
    if (gateHolders++ == 0) {
        proxyBefore = QNetworkProxy::applicationProxy();
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"), gate.port()));
    }
    m_holdsGate = true;
    m_probesSeen =
        connect(gate.probes(), &OfflineGateProbes::probeSeen, this, &OfflineSwitch::probeSeen);
}

void OfflineSwitch::releaseGate()
{
    if (!m_holdsGate)
        return;
    m_holdsGate = false;
    disconnect(m_probesSeen);
    OfflineGate::instance().open();
    if (--gateHolders == 0)
        QNetworkProxy::setApplicationProxy(proxyBefore);
}

void OfflineSwitch::setState(OfflineState state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(state);
}

} // namespace framelog
