#include "browse/web_engine_profiles.h"

#include "core/browser_profile.h"

#include <QHash>
#include <QWebEngineProfile>

#include <memory>

namespace framelog {

namespace {

struct Shared {
    QWebEngineProfile *profile = nullptr;
    int users = 0;
    std::shared_ptr<ProfileLock> lock;
};

// By name; the engine's objects live on the GUI thread only.
QHash<QString, Shared> &shared()
{
    static QHash<QString, Shared> profiles;
    return profiles;
}

bool isPrivate(const QString &name)
{
    return name.isEmpty() || name == kNoProfile;
}

} // namespace

QWebEngineProfile *WebEngineProfiles::acquire(const QString &name)
{
    if (isPrivate(name))
        return new QWebEngineProfile; // off the record: nothing on disk
    if (const QString problem = profileNameProblem(name); !problem.isEmpty())
        throw EProfile(QStringLiteral("profile: ") + problem);
    Shared &entry = shared()[name];
    if (!entry.profile) {
        const QString folder = profileFolder(name);
        auto lock = std::make_shared<ProfileLock>();
        try {
            lock->lock(name, folder);
        } catch (...) {
            shared().remove(name);
            throw;
        }
        auto *profile = new QWebEngineProfile(name);
        profile->setPersistentStoragePath(folder + QStringLiteral("/storage"));
        profile->setCachePath(folder + QStringLiteral("/cache"));
        profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        // Camera logins are mostly session cookies: kept too, or the next
        // start (and the recorder) would be logged out.
        profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
        entry.profile = profile;
        entry.lock = std::move(lock);
    }
    ++entry.users;
    return entry.profile;
}

void WebEngineProfiles::release(QWebEngineProfile *profile)
{
    for (auto it = shared().begin(); it != shared().end(); ++it) {
        if (it->profile != profile)
            continue;
        if (--it->users > 0)
            return;
        // Deleting the profile writes what it holds (cookies) to disk
        // before the lock lets another process in.
        delete it->profile;
        shared().erase(it);
        return;
    }
    delete profile; // an off-the-record one
}

int WebEngineProfiles::users(const QString &name)
{
    const auto it = shared().constFind(name);
    return it == shared().cend() ? 0 : it->users;
}

} // namespace framelog
