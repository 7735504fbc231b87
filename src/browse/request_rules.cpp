#include "browse/request_rules.h"

#include <QHostAddress>

#include <algorithm>

namespace framelog {

namespace {

bool isNetworkScheme(const QString &scheme)
{
    return scheme == u"http" || scheme == u"https" || scheme == u"ws" || scheme == u"wss";
}

} // namespace

bool bypassesProxy(const QUrl &url)
{
    const QString host = url.host();
    const QHostAddress address(host);
    if (!address.isNull())
        return address.isLoopback() || address.isLinkLocal() || address == QHostAddress::AnyIPv4 ||
               address == QHostAddress::AnyIPv6;
    const QString name = host.endsWith(u'.') ? host.chopped(1) : host;
    // A name without a dot is a local one to Qt WebEngine's proxy rules.
    return !name.contains(u'.') || name.compare(u"localhost", Qt::CaseInsensitive) == 0 ||
           name.endsWith(u".localhost", Qt::CaseInsensitive);
}

bool refuseWhileOffline(const QUrl &url, OfflineState offline)
{
    const QString scheme = url.scheme().toLower();
    if (offline == OfflineState::Online || !isNetworkScheme(scheme))
        return false;
    if (offline == OfflineState::Offline)
        return true;
    return scheme == u"ws" || scheme == u"wss" || bypassesProxy(url);
}

QRect keepOnScreen(const QRect &wanted, const QRect &available)
{
    if (available.isEmpty())
        return wanted;
    QRect placed(wanted.topLeft(), wanted.size().boundedTo(available.size()));
    placed.moveLeft(std::clamp(placed.left(), available.left(),
                               available.left() + available.width() - placed.width()));
    placed.moveTop(std::clamp(placed.top(), available.top(),
                              available.top() + available.height() - placed.height()));
    return placed;
}

} // namespace framelog
