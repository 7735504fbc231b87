#include "capture/file_name_pattern.h"

#include <array>

namespace framelog {

namespace {

const std::array<Placeholder, 6> kPlaceholders = {{
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
    QString &name = parts.name;

    for (const bool fromPage : {false, true}) {
        for (const Placeholder &p : kPlaceholders) {
            if (p.fromPage == fromPage)
                replaceAll(name, p.token, p.expand(inputs));
        }
    }

    for (QChar &c : name) {
        if (isUnsafe(c))
            c = u'-';
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
