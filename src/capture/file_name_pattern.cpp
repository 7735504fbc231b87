#include "capture/file_name_pattern.h"

#include <QFile>
#include <QTextBoundaryFinder>

#include <array>
#include <optional>

namespace framelog {

namespace {

// The counter zero-padded to `width` digits, a sign before them.
QString paddedCounter(const PatternInputs &in)
{
    const qint64 value = in.counter;
    const QString digits =
        QStringLiteral("%1").arg(value < 0 ? -value : value, in.width, 10, QLatin1Char('0'));
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

const std::array<Placeholder, 10> kPlaceholders = {{
    {u"%counter%", u"%counter%", u"Image no.",
     [](const PatternInputs &in) { return QString::number(in.counter); }},
    {u"%title%", u"%title%", u"Page title", [](const PatternInputs &in) { return in.title(); },
     true},
    {u"%time%", u"%time%", u"Time (hh:mm:ss)",
     [](const PatternInputs &in) { return in.formats.longTime(in.clock().time()); }},
    {u"%shorttime%", u"%shorttime%", u"Time (hh:mm)",
     [](const PatternInputs &in) { return in.formats.shortTime(in.clock().time()); }},
    {u"%date%", u"%date%,", u"Date (yyyy.mm.dd)",
     [](const PatternInputs &in) { return in.formats.longDate(in.clock().date()); }},
    {u"%shortdate%", u"%shortdate%", u"Date (mm.dd)",
     [](const PatternInputs &in) { return in.formats.shortDate(in.clock().date()); }},
    // Names that sort as text sorts, in every locale, without a colon.
    {u"%isodatetime%", u"", u"Date and time (yyyy-mm-ddThh-mm-ss)",
     [](const PatternInputs &in) {
         return in.clock().toString(QStringLiteral("yyyy-MM-dd'T'HH-mm-ss"));
     },
     false, true},
    {u"%isodate%", u"", u"Date (yyyy-mm-dd)",
     [](const PatternInputs &in) { return in.clock().toString(QStringLiteral("yyyy-MM-dd")); },
     false, true},
    {u"%isotime%", u"", u"Time (hh-mm-ss)",
     [](const PatternInputs &in) { return in.clock().toString(QStringLiteral("HH-mm-ss")); }, false,
     true},
    {u"%counter:N%", u"", u"Image no., N digits with leading zeros", &paddedCounter, false, true,
     true},
}};

// Replaces every occurrence, scanning on after the inserted text so that
// it is never matched again in the same pass.
void replaceAll(QString &text, QStringView placeholder, const QString &replacement)
{
    qsizetype from = 0;
    while (true) {
        const qsizetype at = text.indexOf(placeholder, from, Qt::CaseInsensitive);
        if (at < 0)
            return;
        text.replace(at, placeholder.size(), replacement);
        from = at + replacement.size();
    }
}

// Replaces every "%counter:N%" form of `p`'s token (N: 1 or 2 digits from
// 1), each with its own width.
void replaceWithWidths(QString &text, const Placeholder &p, PatternInputs inputs)
{
    const QStringView token = p.token;
    const qsizetype n = token.indexOf(u'N');
    const QStringView head = token.left(n);
    const QStringView tail = token.mid(n + 1);
    qsizetype from = 0;
    while (true) {
        const qsizetype at = text.indexOf(head, from, Qt::CaseInsensitive);
        if (at < 0)
            return;
        qsizetype end = at + head.size();
        while (end < text.size() && end - at - head.size() < 2 && text.at(end).isDigit() &&
               text.at(end).unicode() < 128)
            ++end;
        const int width = QStringView(text).mid(at + head.size(), end - at - head.size()).toInt();
        if (width < 1 || !QStringView(text).mid(end).startsWith(tail, Qt::CaseInsensitive)) {
            from = at + 1;
            continue;
        }
        inputs.width = width;
        const QString replacement = p.expand(inputs);
        text.replace(at, end + tail.size() - at, replacement);
        from = at + replacement.size();
    }
}

// Characters that Windows refuses in names, kept out on every system so
// that patterns behave alike, plus control characters: legal on Linux but
// never wanted in a name that a web page's title can reach.
bool isUnsafe(QChar c)
{
    const char16_t u = c.unicode();
    return u < 32 || u == 127 || QStringView(u"\"*/:<>?\\|").contains(c);
}

// Characters a page may put in its title to make a name mislead or break
// where it is shown: C1 controls, the bidirectional embeddings, overrides and
// isolates (U+202E shows "gpj.exe" as "exe.jpg"), and the line and paragraph
// separators.
bool isUnsafeFromPage(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x80 && u <= 0x9f) || (u >= 0x202a && u <= 0x202e) ||
           (u >= 0x2066 && u <= 0x2069) || u == 0x2028 || u == 0x2029;
}

// The longest name a file system takes, in bytes of the encoded name.
constexpr qsizetype kMaxNameBytes = 255;

qsizetype encodedSize(const QString &name)
{
    return QFile::encodeName(name).size();
}

// The name part around the page's text: the pattern's own pieces, with the
// page's text standing between each two of them.
struct NameWithPageText {
    QStringList pieces;

    // Splits at every occurrence of `token`, left to right.
    NameWithPageText(const QString &name, QStringView token)
    {
        qsizetype from = 0;
        while (true) {
            const qsizetype at = name.indexOf(token, from, Qt::CaseInsensitive);
            if (at < 0)
                break;
            pieces << name.mid(from, at - from);
            from = at + token.size();
        }
        pieces << name.mid(from);
    }

    // The name with `text` in place of the token. A name that would start
    // with "." because of the page's text is not left hidden: a dot that the
    // text brings becomes "-", and a dot of the pattern's that the empty
    // text leaves at the start gets a "-" where the text would stand.
    QString with(const QString &text) const
    {
        QString name = pieces.first();
        for (qsizetype i = 1; i < pieces.size(); ++i)
            name += text + pieces.at(i);
        if (pieces.size() > 1 && pieces.first().isEmpty() && name.startsWith(u'.')) {
            if (text.isEmpty())
                name.prepend(u'-');
            else
                name[0] = u'-';
        }
        return name;
    }
};

// The page's text cut at a character boundary, never inside a surrogate
// pair or a combining sequence, until the name fits the file system. When
// even no text at all would not make it fit, the pattern is too long by
// itself and the text stays whole: the save reports that.
QString fitted(const NameWithPageText &name, const QString &text)
{
    if (encodedSize(name.with(text)) <= kMaxNameBytes ||
        encodedSize(name.with(QString())) > kMaxNameBytes)
        return text;
    // Every character takes at least one byte, so only the first
    // kMaxNameBytes characters can ever fit.
    QList<qsizetype> boundaries;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = finder.toNextBoundary(); at > 0 && at <= kMaxNameBytes;
         at = finder.toNextBoundary())
        boundaries << at;
    for (qsizetype i = boundaries.size() - 1; i >= 0; --i) {
        const QString cut = text.left(boundaries.at(i));
        if (encodedSize(name.with(cut)) <= kMaxNameBytes)
            return cut;
    }
    return QString();
}

} // namespace

std::span<const Placeholder> placeholders()
{
    return kPlaceholders;
}

QString placeholderTokenLegend()
{
    QString text = QStringLiteral("Replace patterns:");
    for (const Placeholder &p : kPlaceholders) {
        if (!p.legendToken.isEmpty())
            text += QStringLiteral("\n    ") + p.legendToken.toString();
    }
    return text;
}

QString placeholderMeaningLegend()
{
    QString text;
    for (const Placeholder &p : kPlaceholders) {
        if (!p.legendToken.isEmpty())
            text += QStringLiteral("\n- ") + p.legend.toString();
    }
    return text;
}

QString expandFileNamePattern(const QString &pattern, const PatternInputs &inputs,
                              QStringView delimiters)
{
    PathParts parts = splitAtLastDelimiter(pattern, delimiters);
    QString name = parts.name;
    // The sortable placeholders read the clock once between them, and only
    // when the pattern holds one.
    std::optional<QDateTime> sortableNow;
    PatternInputs sortable = inputs;
    sortable.clock = [&] {
        if (!sortableNow)
            sortableNow = inputs.clock();
        return *sortableNow;
    };
    const auto expandSortable = [&](QString &text, const Placeholder &p, bool clean) {
        if (p.takesWidth) {
            replaceWithWidths(text, p, sortable);
            return;
        }
        if (!text.contains(p.token, Qt::CaseInsensitive))
            return;
        QString value = p.expand(sortable);
        // In a folder, a placeholder's text makes no folder of its own.
        for (QChar &c : value) {
            if (clean && (isUnsafe(c) || delimiters.contains(c)))
                c = u'-';
        }
        replaceAll(text, p.token, value);
    };
    for (const Placeholder &p : kPlaceholders) {
        if (p.sortable)
            expandSortable(parts.folder, p, true);
    }
    for (const Placeholder &p : kPlaceholders) {
        if (p.sortable)
            expandSortable(name, p, false);
        else if (!p.fromPage)
            replaceAll(name, p.token, p.expand(inputs));
    }
    for (QChar &c : name) {
        if (isUnsafe(c))
            c = u'-';
    }

    // The page's text goes in last, so placeholder text inside it stays as
    // it is; it is cleaned of more than the pattern, and it is what gives
    // way when the name would be too long.
    for (const Placeholder &p : kPlaceholders) {
        if (!p.fromPage)
            continue;
        QString text = p.expand(inputs);
        for (QChar &c : text) {
            if (isUnsafe(c) || isUnsafeFromPage(c))
                c = u'-';
        }
        const NameWithPageText around(name, p.token);
        name = around.with(fitted(around, text));
    }
    return parts.folder + name;
}

QString expandFileNamePattern(const QString &pattern, qint32 counter,
                              const std::function<QDateTime()> &clock,
                              const std::function<QString()> &title, const LocaleFormats &formats,
                              QStringView delimiters)
{
    return expandFileNamePattern(pattern, PatternInputs{counter, clock, title, formats},
                                 delimiters);
}

} // namespace framelog
