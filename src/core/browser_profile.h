#pragma once

#include "core/exception.h"

#include <QString>

namespace framelog {

// Browser profiles: cookies, local storage and cache kept on disk under a
// name, in <XDG data folder>/framelog/profiles/NAME. The window uses
// kDefaultProfile unless told otherwise; kNoProfile (or an empty name)
// stands for the off-the-record profile that keeps nothing.
inline const QString kDefaultProfile = QStringLiteral("default");
inline const QString kNoProfile = QStringLiteral("none");

// A profile that cannot be used: the name is not one, or another running
// program has it open.
class EProfile : public Exception {
public:
    using Exception::Exception;
};

// Empty when `name` may name a profile: 1 to 64 letters, digits, '.', '_'
// and '-', not starting with '.' or '-' (it becomes a folder's name).
// Otherwise what is wrong with it.
QString profileNameProblem(const QString &name);

// The folder of profile `name`, made from XDG_DATA_HOME as the program
// finds it now.
QString profileFolder(const QString &name);

// Keeps other programs out of a profile's folder while this process uses
// it: Chromium's files there are not made to be shared by two processes.
// An advisory lock (flock) on a file in the folder, released by the kernel
// when the process ends, however it ends; the file names the holder.
class ProfileLock {
public:
    ProfileLock() = default;
    ~ProfileLock();
    ProfileLock(const ProfileLock &) = delete;
    ProfileLock &operator=(const ProfileLock &) = delete;

    // Locks profile `name` in `folder` (made when missing). Throws EProfile
    // naming the program and process that hold it, or why the folder
    // cannot be used.
    void lock(const QString &name, const QString &folder);
    bool locked() const { return m_fd >= 0; }
    void unlock();

    // The lock file's name in a profile folder.
    static QString fileName();

private:
    int m_fd = -1;
};

} // namespace framelog
