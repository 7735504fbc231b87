#include "core/length_text.h"

#include <algorithm>

namespace framelog {

QString lengthText(qint64 ms)
{
    if (ms < 1000)
        return QStringLiteral("%1 ms").arg(std::max<qint64>(ms, 0));
    const qint64 seconds = ms / 1000;
    const qint64 h = seconds / 3600, min = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1 h %2 min %3 s").arg(h).arg(min).arg(s);
    if (min > 0)
        return QStringLiteral("%1 min %2 s").arg(min).arg(s);
    return QStringLiteral("%1 s").arg(s);
}

} // namespace framelog
