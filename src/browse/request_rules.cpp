#include "browse/request_rules.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>

#include <algorithm>

namespace framelog {

namespace {

bool isNetworkScheme(const QString &scheme)
{
    return scheme == u"http" || scheme == u"https" || scheme == u"ws" || scheme == u"wss";
}

// The canonical path of a local file, or an empty one when it does not exist.
QString canonicalFile(const QUrl &url)
{
    return QFileInfo(url.toLocalFile()).canonicalFilePath();
}

// Whether `file` lies in the folder of the local page `page` or below it.
bool inFolderOf(const QUrl &file, const QUrl &page)
{
    if (!page.isLocalFile())
        return false;
    const QString folder = QFileInfo(page.toLocalFile()).canonicalPath();
    const QString target = canonicalFile(file);
    if (folder.isEmpty() || target.isEmpty())
        return false;
    return target.startsWith(folder.endsWith(u'/') ? folder : folder + u'/');
}

bool refuseLocalFile(const RequestFacts &request)
{
    if (request.scriptRead)
        return true;
    if (!request.mainFrame)
        return !inFolderOf(request.url, request.firstParty);
    if (request.pageInitiated)
        return !inFolderOf(request.url, request.windowPage);
    return false;
}

} // namespace

bool bypassesProxy(const QUrl &url)
{
    const QString host = url.host();
    const QHostAddress address(host);
    if (!address.isNull())
        return address.isLoopback() || address.isLinkLocal();
    const QString name = host.endsWith(u'.') ? host.chopped(1) : host;
    return name.compare(u"localhost", Qt::CaseInsensitive) == 0 ||
           name.endsWith(u".localhost", Qt::CaseInsensitive);
}

bool refuseRequest(const RequestFacts &request, OfflineState offline)
{
    if (request.url.isLocalFile())
        return refuseLocalFile(request);
    return refuseWhileOffline(request.url, offline);
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
