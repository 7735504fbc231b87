#pragma once

#include "capture/file_name_pattern.h"
#include "core/exception.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>

namespace framelog {

// The picture to be saved has no pixels: a selection squeezed to 0 wide or
// 0 high, or a browser area of that size.
class EEmptyPicture : public Exception {
public:
    EEmptyPicture() : Exception(QStringLiteral("The selected area is empty")) {}
};

// What went wrong during one run: how many pictures failed since it started
// and the latest error. The log line of each failure is the capture
// session's (capture_session.h).
class RunFailures {
public:
    // A new run: nothing failed yet.
    void reset();
    int count() const { return m_count; }
    const QString &last() const { return m_last; }

    // A picture failed with `message`: counted and kept.
    void record(const QString &message);

    // The status text while picture `picture` is taken: "Capturing (#n)...",
    // followed by the `notes` ("3 skipped") and, once any picture of the run
    // failed, by "k failed, last: " and the latest error, all these joined
    // by ", " after one space. A later success does not hide the failures.
    QString status(qint32 picture, const QStringList &notes = {}) const;

private:
    int m_count = 0;
    QString m_last;
};

// The rules of a capture run that need no window: the picture counter, the
// name each picture gets and the picture's fate on disk. A front end takes
// the picture and shows what happened; it reaches the rules only through
// here.
class CaptureRun {
public:
    // Number of the last picture: 0 at start, never reset, so a new run
    // continues the numbering.
    qint32 counter() const { return m_counter; }
    void setCounter(qint32 last) { m_counter = last; }

    // A new picture: the counter rises by one, wrapping from 2147483647 to
    // -2147483648. Returns the new number.
    qint32 advance();

    // The current picture's name: `pattern` expanded with the counter, the
    // clock, the user's regional formats (read at each call, so they follow
    // a change of locale) and the page's title.
    QString fileName(const QString &pattern, const std::function<QString()> &title) const;

    enum class Fate { Written, Skipped };
    // Writes `picture` as a whole JPEG file named `fileName`, unless
    // overwriting is off and the name is taken (isTaken): then nothing is
    // written and nothing reported. A relative name is taken against the
    // current directory. A picture 0 wide or 0 high throws EEmptyPicture;
    // otherwise throws what the writer throws. Reads nothing but its
    // arguments and the disk, so it may run away from the window's thread.
    static Fate save(const QImage &picture, const QString &fileName, bool overwrite);

    // Something other than a folder has the name: a file, a FIFO, a socket,
    // a device, a symbolic link whether it leads anywhere or not. A link to a
    // folder counts as the folder.
    static bool isTaken(const QString &fileName);

    // Stand-ins for the clock and the regional formats, for tests.
    std::function<QDateTime()> clock = &QDateTime::currentDateTime;
    std::function<LocaleFormats()> formats = [] {
        return LocaleFormats::fromLocale(QLocale::system());
    };

private:
    qint32 m_counter = 0;
};

} // namespace framelog
