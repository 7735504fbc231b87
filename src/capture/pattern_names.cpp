#include "capture/pattern_names.h"

#include "capture/file_name_pattern.h"
#include "core/length_text.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <vector>

namespace framelog {

PatternVariation patternVariation(const QString &pattern)
{
    PatternVariation variation;
    bool comesBack = true;
    const PatternPieces split = patternPieces(pattern);
    for (const PatternPiece &piece : split.folder + split.name) {
        if (!piece.placeholder)
            continue;
        const NameVariation &v = piece.placeholder->varies;
        variation.counter = variation.counter || v.counter;
        if (v.stepMs <= 0)
            continue;
        variation.stepMs = variation.stepMs == 0 ? v.stepMs : std::min(variation.stepMs, v.stepMs);
        // The clock's part comes back once every clock placeholder has.
        if (v.cycleMs <= 0)
            comesBack = false;
        else
            variation.cycleMs = std::max(variation.cycleMs, v.cycleMs);
    }
    if (!comesBack)
        variation.cycleMs = 0;
    return variation;
}

namespace {

QString lengthWords(qint64 ms)
{
    switch (ms) {
    case kSecondMs:
        return QStringLiteral("a second");
    case kMinuteMs:
        return QStringLiteral("a minute");
    case kDayMs:
        return QStringLiteral("a day");
    default:
        return lengthText(ms);
    }
}

} // namespace

std::optional<QString> repeatedNamesWarning(const QString &pattern, qint64 everyMs,
                                            std::optional<qint64> runMs)
{
    const PatternVariation v = patternVariation(pattern);
    if (v.counter)
        return std::nullopt;
    const QString quoted = QLatin1Char('"') + pattern + QLatin1Char('"');
    if (v.stepMs == 0)
        return QStringLiteral("pattern %1 gives every picture the same name: each replaces the "
                              "one before (%counter% in the pattern keeps them all)")
            .arg(quoted);
    if (v.stepMs > everyMs)
        return QStringLiteral("pattern %1 changes once %2 and a picture is taken every %3: "
                              "pictures of the same %4 get the same name and replace each other "
                              "(%counter% in the pattern keeps them all)")
            .arg(quoted, v.stepMs == kDayMs ? QStringLiteral("a day") : lengthWords(v.stepMs),
                 lengthText(everyMs),
                 v.stepMs == kSecondMs   ? QStringLiteral("second")
                 : v.stepMs == kMinuteMs ? QStringLiteral("minute")
                 : v.stepMs == kDayMs    ? QStringLiteral("day")
                                         : lengthText(v.stepMs));
    if (v.cycleMs > 0 && (!runMs || *runMs > v.cycleMs))
        return QStringLiteral("pattern %1 gives the same names again after %2: a longer run "
                              "replaces its own pictures (%date% or %counter% in the pattern "
                              "keeps them all)")
            .arg(quoted, lengthWords(v.cycleMs));
    return std::nullopt;
}

namespace {

// The characters a placeholder can put into a name.
struct CharClass {
    bool any = false; // whatever the page gives
    bool mayBeEmpty = false;
    QString chars; // sorted, each once

    bool contains(QChar c) const
    {
        return any || std::binary_search(chars.begin(), chars.end(), c);
    }
    bool meets(const CharClass &other) const
    {
        if (any || other.any)
            return any ? (other.any || !other.chars.isEmpty()) : !chars.isEmpty();
        for (const QChar c : chars) {
            if (other.contains(c))
                return true;
        }
        return false;
    }
};

// What the placeholder gives over a leap year's days at every hour, and
// over counters of every digit and sign: the characters its names are made
// of, after the pattern's cleaning.
CharClass charClass(const Placeholder &placeholder, const LocaleFormats &formats)
{
    CharClass cls;
    if (placeholder.fromPage) {
        cls.any = true;
        cls.mayBeEmpty = true;
        return cls;
    }
    static constexpr std::array<qint32, 12> kCounters = {
        0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -2147483647 - 1, 2147483647};
    QString token = placeholder.token.toString();
    if (placeholder.takesWidth)
        token.replace(u'N', u'3');
    QString seen;
    for (int k = 0; k < 366; ++k) {
        const QDateTime when(QDate(2024, 1, 1).addDays(k), QTime(k % 24, k * 7 % 60, k * 13 % 60));
        const QString text = expandFileNamePattern(
            token, kCounters[std::size_t(k) % kCounters.size()], [&] { return when; },
            [] { return QString(); }, formats);
        cls.mayBeEmpty = cls.mayBeEmpty || text.isEmpty();
        seen += text;
    }
    std::sort(seen.begin(), seen.end());
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    cls.chars = seen;
    return cls;
}

// The folder as the system finds it: absolute and clean, the links of the
// part that exists followed; ends in "/".
QString resolvedFolder(const QString &folder)
{
    const QString path = QDir::cleanPath(
        QDir::current().absoluteFilePath(folder.isEmpty() ? QStringLiteral(".") : folder));
    QString existing = path;
    QString rest;
    while (!QFileInfo::exists(existing) && existing != QLatin1String("/")) {
        rest.prepend(QLatin1Char('/') + QFileInfo(existing).fileName());
        existing = QFileInfo(existing).path();
    }
    QString canonical = QFileInfo(existing).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = existing;
    QString resolved = QDir::cleanPath(canonical + rest);
    if (!resolved.endsWith(QLatin1Char('/')))
        resolved += QLatin1Char('/');
    return resolved;
}

// A pattern as a simple automaton: a literal character, or a placeholder
// taking one or more characters of its class (none too, when it may be
// empty).
struct Piece {
    QChar literal;
    const CharClass *cls = nullptr;
};

// What each placeholder can put in, worked out once.
using ClassCache = std::map<const Placeholder *, std::unique_ptr<CharClass>>;

std::vector<Piece> pieces(const QString &pattern, const LocaleFormats &formats, ClassCache &classes)
{
    const PatternPieces split = patternPieces(pattern);
    // The folders before the first placeholder are found on the disk; from
    // there on the pattern makes them.
    qsizetype found = split.folder.size();
    qsizetype afterSlash = 0;
    for (qsizetype i = 0; i < split.folder.size(); ++i) {
        if (split.folder[i].placeholder) {
            found = afterSlash;
            break;
        }
        if (split.folder[i].text == u'/')
            afterSlash = i + 1;
    }
    QString folder;
    for (qsizetype i = 0; i < found; ++i)
        folder += split.folder[i].text;
    std::vector<Piece> result;
    for (const QChar c : resolvedFolder(folder))
        result.push_back(Piece{c, nullptr});
    for (const PatternPiece &piece : split.folder.mid(found) + split.name) {
        if (!piece.placeholder) {
            result.push_back(Piece{piece.text, nullptr});
            continue;
        }
        std::unique_ptr<CharClass> &cls = classes[piece.placeholder];
        if (!cls)
            cls = std::make_unique<CharClass>(charClass(*piece.placeholder, formats));
        result.push_back(Piece{QChar(), cls.get()});
    }
    return result;
}

// The states of a pattern's automaton: 2k before piece k, 2k + 1 inside
// placeholder k after at least one character; 2n at the end.
struct Automaton {
    const std::vector<Piece> &pieces;

    int end() const { return 2 * int(pieces.size()); }
    // The state reached without taking a character, if any.
    int skip(int state) const
    {
        if (state % 2 == 1)
            return state + 1;
        if (state == end())
            return -1;
        const Piece &p = pieces[std::size_t(state / 2)];
        return p.cls && p.cls->mayBeEmpty ? state + 2 : -1;
    }
    // The one move that takes a character: what it takes, and where it
    // leads; -1 at the end.
    int take(int state, const Piece *&what) const
    {
        if (state == end())
            return -1;
        what = &pieces[std::size_t(state / 2)];
        if (state % 2 == 1)
            return state;
        return what->cls ? state + 1 : state + 2;
    }
};

bool takeTheSame(const Piece &a, const Piece &b)
{
    if (!a.cls && !b.cls)
        return a.literal == b.literal;
    if (!a.cls)
        return b.cls->contains(a.literal);
    if (!b.cls)
        return a.cls->contains(b.literal);
    return a.cls->meets(*b.cls);
}

} // namespace

struct SharedNames::Classes {
    ClassCache cache;
};

SharedNames::SharedNames(LocaleFormats formats)
    : m_formats(std::move(formats)), m_classes(std::make_unique<Classes>())
{
}

SharedNames::~SharedNames() = default;

bool patternsCanShareNames(const QString &a, const QString &b, const LocaleFormats &formats)
{
    return SharedNames(formats).canShare(a, b);
}

bool SharedNames::canShare(const QString &a, const QString &b)
{
    const std::vector<Piece> piecesA = pieces(a, m_formats, m_classes->cache);
    const std::vector<Piece> piecesB = pieces(b, m_formats, m_classes->cache);
    const Automaton first{piecesA}, second{piecesB};
    const int width = second.end() + 1;
    std::vector<bool> seen(std::size_t((first.end() + 1) * width), false);
    std::vector<std::pair<int, int>> next{{0, 0}};
    seen[0] = true;
    const auto visit = [&](int s, int t) {
        if (s < 0 || t < 0 || seen[std::size_t(s * width + t)])
            return;
        seen[std::size_t(s * width + t)] = true;
        next.emplace_back(s, t);
    };
    // Both names read to their ends along characters they share.
    while (!next.empty()) {
        const auto [s, t] = next.back();
        next.pop_back();
        if (s == first.end() && t == second.end())
            return true;
        visit(first.skip(s), t);
        visit(s, second.skip(t));
        const Piece *takenA = nullptr, *takenB = nullptr;
        const int toA = first.take(s, takenA);
        const int toB = second.take(t, takenB);
        if (toA >= 0 && toB >= 0 && takeTheSame(*takenA, *takenB))
            visit(toA, toB);
    }
    return false;
}

RunNames::RunNames(std::size_t capacity)
    : m_capacity(std::max<std::size_t>(capacity, 1)),
      m_seed(std::size_t(QRandomGenerator::system()->generate64()))
{
}

std::optional<qint32> RunNames::written(const QString &name, qint32 number)
{
    const quint64 key = quint64(qHash(name, m_seed));
    std::optional<qint32> earlier;
    if (const auto found = m_numbers.constFind(key); found != m_numbers.cend())
        earlier = *found;
    m_numbers.insert(key, number);
    m_order.emplace_back(key, number);
    while (m_order.size() > m_capacity) {
        const auto [oldKey, oldNumber] = m_order.front();
        m_order.pop_front();
        // A name written again since is remembered as that picture's.
        if (const auto found = m_numbers.constFind(oldKey);
            found != m_numbers.cend() && *found == oldNumber)
            m_numbers.remove(oldKey);
    }
    return earlier;
}

void RunNames::clear()
{
    m_numbers.clear();
    m_order.clear();
}

} // namespace framelog
