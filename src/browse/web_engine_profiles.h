#pragma once

#include <QString>

class QWebEngineProfile;

namespace framelog {

// The engine's profiles of this process. A named profile is one
// QWebEngineProfile shared by every browser control that uses it (the
// cameras of one recorder), kept on disk in its folder (core's
// browser_profile.h) with session cookies too, and locked against other
// processes while one control uses it. An empty name or "none" gives each
// control a new off-the-record profile of its own, as before profiles.
class WebEngineProfiles {
public:
    // Throws EProfile when the name is not one or another process holds
    // the profile.
    static QWebEngineProfile *acquire(const QString &name);
    // The profile is deleted, and its lock let go, when its last user
    // releases it; the pages that used it must be gone by then.
    static void release(QWebEngineProfile *profile);
    // How many controls of this process use the named profile.
    static int users(const QString &name);
};

} // namespace framelog
