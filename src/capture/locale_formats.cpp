#include "capture/locale_formats.h"

#include <QList>

namespace framelog {

namespace {

// One piece of a Qt date/time format: a field such as "hh" or "MMMM", or
// literal text (field is null) with quotes already resolved.
struct FormatToken {
    QChar field;
    qsizetype count = 0;
    QString literal;
};

bool isFieldLetter(QChar c)
{
    return QStringView(u"dMyhHmsaAtz").contains(c);
}

QList<FormatToken> tokenize(QStringView format)
{
    QList<FormatToken> tokens;
    const auto addLiteral = [&tokens](QChar c) {
        if (tokens.isEmpty() || !tokens.last().field.isNull())
            tokens.append(FormatToken());
        tokens.last().literal += c;
    };
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'') {
            if (i + 1 < format.size() && format[i + 1] == u'\'') {
                addLiteral(c);
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (quoted || !isFieldLetter(c)) {
            addLiteral(c);
        } else if (!tokens.isEmpty() && tokens.last().field == c) {
            ++tokens.last().count;
        } else {
            tokens.append(FormatToken{c, 1, {}});
        }
    }
    return tokens;
}

qsizetype findField(const QList<FormatToken> &tokens, QStringView letters, qsizetype from = 0)
{
    for (qsizetype i = from; i < tokens.size(); ++i) {
        if (!tokens[i].field.isNull() && letters.contains(tokens[i].field))
            return i;
    }
    return -1;
}

// The literal text between a field and the next field, if any.
QString textAfterField(const QList<FormatToken> &tokens, qsizetype field)
{
    if (field + 2 < tokens.size() && tokens[field + 1].field.isNull())
        return tokens[field + 1].literal;
    return {};
}

bool isDirectionMark(QChar c)
{
    const char16_t u = c.unicode();
    return u == 0x200e || u == 0x200f || u == 0x061c || (u >= 0x202a && u <= 0x202e) ||
           (u >= 0x2066 && u <= 0x2069);
}

// The date separator of a pattern such as Arabic's "d<RLM>/M<RLM>/yyyy" (a
// right-to-left mark, U+200F, before each '/'): the pattern keeps its own
// marks, and each '/' stands for the separator alone, so the marks must not
// come in a second time with it.
QString separatorWithoutMarks(const QString &literal)
{
    QString separator = literal;
    separator.removeIf(isDirectionMark);
    return separator.isEmpty() ? literal : separator;
}

QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

} // namespace

LocaleFormats LocaleFormats::fromLocale(const QLocale &locale)
{
    LocaleFormats formats;
    if (locale.language() == QLocale::C)
        return formats;
    formats.names = locale;

    // Qt's short time form tells the hour style, separator and where the
    // designator goes, without the time zone of its long form.
    const QList<FormatToken> time = tokenize(locale.timeFormat(QLocale::ShortFormat));
    const qsizetype hour = findField(time, u"hH");
    if (hour >= 0) {
        const qsizetype designator = findField(time, u"aA");
        formats.hourLeadingZero = time[hour].count >= 2;
        formats.twelveHour = time[hour].field == u'h' && designator >= 0;
        formats.designatorFirst = designator >= 0 && designator < hour;
        const QString separator = textAfterField(time, hour);
        if (!separator.isEmpty() && findField(time, u"m", hour) == hour + 2)
            formats.timeSeparator = separator;
    }
    if (!locale.amText().isEmpty())
        formats.amText = locale.amText();
    if (!locale.pmText().isEmpty())
        formats.pmText = locale.pmText();

    const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
    if (!shortDate.isEmpty()) {
        formats.shortDatePattern = shortDate;
        const QList<FormatToken> date = tokenize(shortDate);
        const qsizetype first = findField(date, u"dMy");
        const QString separator =
            first >= 0 ? separatorWithoutMarks(textAfterField(date, first)) : QString();
        if (!separator.isEmpty())
            formats.dateSeparator = separator;
    }
    const QString longDate = locale.dateFormat(QLocale::LongFormat);
    if (!longDate.isEmpty())
        formats.longDatePattern = longDate;
    return formats;
}

QString LocaleFormats::formatTime(QTime time, bool withSeconds) const
{
    if (!time.isValid())
        return {};
    int hour = time.hour();
    if (twelveHour) {
        hour %= 12;
        if (hour == 0)
            hour = 12;
    }
    QString text = hourLeadingZero ? twoDigits(hour) : QString::number(hour);
    text += timeSeparator + twoDigits(time.minute());
    if (withSeconds)
        text += timeSeparator + twoDigits(time.second());
    if (!twelveHour)
        return text;
    const QString &designator = time.hour() < 12 ? amText : pmText;
    if (designator.isEmpty())
        return text;
    return designatorFirst ? designator + u' ' + text : text + u' ' + designator;
}

QString LocaleFormats::longTime(QTime time) const
{
    return formatTime(time, true);
}

QString LocaleFormats::shortTime(QTime time) const
{
    return formatTime(time, false);
}

QString LocaleFormats::longDate(QDate date) const
{
    return names.toString(date, longDatePattern);
}

QString LocaleFormats::shortDate(QDate date) const
{
    // Put the separator in as quoted text so that letters in it are not
    // taken for fields.
    QString separator;
    if (!dateSeparator.isEmpty()) {
        separator = dateSeparator;
        separator.replace(u'\'', QStringLiteral("''"));
        separator = u'\'' + separator + u'\'';
    }
    QString format;
    bool quoted = false;
    for (const QChar c : shortDatePattern) {
        if (c == u'\'')
            quoted = !quoted;
        if (c == u'/' && !quoted)
            format += separator;
        else
            format += c;
    }
    return names.toString(date, format);
}

} // namespace framelog
