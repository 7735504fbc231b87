#pragma once

#include "capture/locale_formats.h"

#include <QHash>
#include <QString>

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>

namespace framelog {

// What sets apart the names of a pattern's pictures, from the placeholders
// it holds (Placeholder::varies): a counter, or the clock's finest step
// and the time after which the clock's part comes back (0: never).
struct PatternVariation {
    bool counter = false;
    qint64 stepMs = 0;
    qint64 cycleMs = 0;
};
PatternVariation patternVariation(const QString &pattern);

// The warning for a pattern whose pictures can get a name an earlier
// picture of the run had, or nothing: a pattern without a counter that
// shows no clock, or whose finest clock step is longer than the picture
// interval `everyMs`, or whose clock comes back within the run (`runMs`:
// how long it can last; none: until it is stopped).
std::optional<QString> repeatedNamesWarning(const QString &pattern, qint64 everyMs,
                                            std::optional<qint64> runMs);

// Whether two patterns can give the same file: their folders as the system
// finds them (absolute, the links of the part that exists followed), their
// names by what each placeholder can put in: digits for the counter, the
// characters `formats` writes dates and times with, anything for the page's
// title. It may answer yes for two patterns that never meet in practice
// (a counter against a title), never no for two that can.
bool patternsCanShareNames(const QString &a, const QString &b, const LocaleFormats &formats);

// The same for many pairs: what each placeholder can put in is worked out
// once.
class SharedNames {
public:
    explicit SharedNames(LocaleFormats formats);
    ~SharedNames();
    bool canShare(const QString &a, const QString &b);

private:
    struct Classes;
    LocaleFormats m_formats;
    std::unique_ptr<Classes> m_classes;
};

// The names of the pictures one run wrote, to tell a picture that replaces
// one of the same run. The latest `capacity` names are remembered, each as
// a keyed 64-bit hash: about 40 bytes a name.
class RunNames {
public:
    static constexpr std::size_t kDefaultCapacity = std::size_t(1) << 17;
    explicit RunNames(std::size_t capacity = kDefaultCapacity);

    // The number of the picture written under `name` earlier in the run,
    // if one is remembered; from now on `name` is remembered as `number`'s.
    std::optional<qint32> written(const QString &name, qint32 number);
    void clear();

private:
    std::size_t m_capacity;
    std::size_t m_seed;
    QHash<quint64, qint32> m_numbers;
    std::deque<std::pair<quint64, qint32>> m_order; // oldest first
};

} // namespace framelog
