#include "settings/ini_value.h"

namespace framelog {

QChar unquotedIniSeparator(QStringView value)
{
    bool quoted = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == u'\\')
            ++i;
        else if (c == u'"')
            quoted = !quoted;
        else if (!quoted && (c == u';' || c == u','))
            return c;
    }
    return QChar();
}

QString quotedIniValue(QStringView value)
{
    QString text = QStringLiteral("\"");
    for (const QChar c : value) {
        if (c == u'\\' || c == u'"')
            text += u'\\';
        text += c;
    }
    return text + u'"';
}

} // namespace framelog
