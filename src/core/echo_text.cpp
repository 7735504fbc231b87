#include "core/echo_text.h"

namespace framelog {

namespace {

bool isControl(char16_t u)
{
    return u < 0x20 || (u >= 0x7f && u <= 0x9f);
}

QString escaped(char16_t u)
{
    switch (u) {
    case u'\t':
        return QStringLiteral("\\t");
    case u'\n':
        return QStringLiteral("\\n");
    case u'\r':
        return QStringLiteral("\\r");
    default:
        break;
    }
    const QString hex = QString::number(uint(u), 16).toUpper();
    return u < 0x80 ? QStringLiteral("\\x") + hex.rightJustified(2, QLatin1Char('0'))
                    : QStringLiteral("\\u") + hex.rightJustified(4, QLatin1Char('0'));
}

} // namespace

QString echoText(const QString &text, qsizetype limit)
{
    qsizetype end = text.size();
    const bool cut = limit >= 0 && end > limit;
    if (cut) {
        end = limit;
        if (end > 0 && text.at(end - 1).isHighSurrogate())
            --end;
    }
    QString shown;
    shown.reserve(end + 16);
    for (qsizetype i = 0; i < end; ++i) {
        const char16_t u = text.at(i).unicode();
        if (isControl(u))
            shown += escaped(u);
        else
            shown += QChar(u);
    }
    if (cut)
        shown += QStringLiteral("... (%1 characters)").arg(text.size());
    return shown;
}

} // namespace framelog
