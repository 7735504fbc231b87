#include "capture/file_name_pattern.h"

#include <QFile>
#include <QTextBoundaryFinder>

#include <array>

namespace framelog {

namespace {

const std::array<Placeholder, 6> kPlaceholders = {{
    {.token = u"%counter%",
     .legendToken = u"%counter%",
     .legend = u"Image no.",
     .expand = [](const PatternInputs &in) { return QString::number(in.counter); },
     .varies = {.counter = true}},
    {.token = u"%title%",
     .legendToken = u"%title%",
     .legend = u"Page title",
     .expand = [](const PatternInputs &in) { return in.title(); },
     .fromPage = true},
    {.token = u"%time%",
     .legendToken = u"%time%",
     .legend = u"Time (hh:mm:ss)",
     .expand = [](const PatternInputs &in) { return in.formats.longTime(in.clock().time()); },
     .varies = {.stepMs = kSecondMs, .cycleMs = kDayMs}},
    {.token = u"%shorttime%",
     .legendToken = u"%shorttime%",
     .legend = u"Time (hh:mm)",
     .expand = [](const PatternInputs &in) { return in.formats.shortTime(in.clock().time()); },
     .varies = {.stepMs = kMinuteMs, .cycleMs = kDayMs}},
    {.token = u"%date%",
     .legendToken = u"%date%,",
     .legend = u"Date (yyyy.mm.dd)",
     .expand = [](const PatternInputs &in) { return in.formats.longDate(in.clock().date()); },
     .varies = {.stepMs = kDayMs}},
    // The regional short date nearly always holds the year: taken as never
    // coming back.
    {.token = u"%shortdate%",
     .legendToken = u"%shortdate%",
     .legend = u"Date (mm.dd)",
     .expand = [](const PatternInputs &in) { return in.formats.shortDate(in.clock().date()); },
     .varies = {.stepMs = kDayMs}},
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
    for (const Placeholder &p : kPlaceholders)
        text += QStringLiteral("\n    ") + p.legendToken.toString();
    return text;
}

QString placeholderMeaningLegend()
{
    QString text;
    for (const Placeholder &p : kPlaceholders)
        text += QStringLiteral("\n- ") + p.legend.toString();
    return text;
}

QString expandFileNamePattern(const QString &pattern, const PatternInputs &inputs,
                              QStringView delimiters)
{
    PathParts parts = splitAtLastDelimiter(pattern, delimiters);
    QString name = parts.name;
    for (const Placeholder &p : kPlaceholders) {
        if (!p.fromPage)
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

PatternPieces patternPieces(const QString &pattern, QStringView delimiters)
{
    // The expansion's own steps, with a noncharacter standing in for each
    // placeholder's text, so that tokens are found exactly where it finds
    // them.
    constexpr char16_t kFirstStandIn = 0xfdd0;
    const auto standIn = [&](std::size_t index) { return QChar(char16_t(kFirstStandIn + index)); };
    const PathParts parts = splitAtLastDelimiter(pattern, delimiters);
    QString name = parts.name;
    for (std::size_t i = 0; i < kPlaceholders.size(); ++i) {
        if (!kPlaceholders[i].fromPage)
            replaceAll(name, kPlaceholders[i].token, QString(standIn(i)));
    }
    for (QChar &c : name) {
        if (isUnsafe(c))
            c = u'-';
    }
    for (std::size_t i = 0; i < kPlaceholders.size(); ++i) {
        if (kPlaceholders[i].fromPage)
            replaceAll(name, kPlaceholders[i].token, QString(standIn(i)));
    }
    PatternPieces pieces{parts.folder, {}};
    for (const QChar c : name) {
        const std::size_t index = std::size_t(c.unicode() - kFirstStandIn);
        if (c.unicode() >= kFirstStandIn && index < kPlaceholders.size())
            pieces.name << PatternPiece{QChar(), &kPlaceholders[index]};
        else
            pieces.name << PatternPiece{c, nullptr};
    }
    return pieces;
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
