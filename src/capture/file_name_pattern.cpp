#include "capture/file_name_pattern.h"

namespace framelog {

namespace {

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

QString expandFileNamePattern(const QString &pattern, qint32 counter,
                              const std::function<QDateTime()> &clock,
                              const std::function<QString()> &title, const LocaleFormats &formats,
                              QStringView delimiters)
{
    PathParts parts = splitAtLastDelimiter(pattern, delimiters);
    QString &name = parts.name;

    replaceAll(name, u"%counter%", QString::number(counter));
    replaceAll(name, u"%time%", formats.longTime(clock().time()));
    replaceAll(name, u"%shorttime%", formats.shortTime(clock().time()));
    replaceAll(name, u"%date%", formats.longDate(clock().date()));
    replaceAll(name, u"%shortdate%", formats.shortDate(clock().date()));
    // Last, so that a title holding placeholder text goes in literally.
    replaceAll(name, u"%title%", title());

    for (QChar &c : name) {
        if (isUnsafe(c))
            c = u'-';
    }
    return parts.folder + name;
}

} // namespace framelog
