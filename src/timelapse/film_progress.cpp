#include "timelapse/film_progress.h"

#include <cmath>

namespace framelog {

namespace {

double rateOf(const FilmProgress &p)
{
    return p.elapsedS > 0 ? double(p.done) / p.elapsedS : 0;
}

QString leftText(const FilmProgress &p)
{
    const double rate = rateOf(p);
    if (rate <= 0 || p.done == 0)
        return QStringLiteral("?:?? left");
    return clockText(double(p.total - p.done) / rate) + QStringLiteral(" left");
}

} // namespace

QString clockText(double seconds)
{
    const qint64 s = qint64(std::llround(std::max(0.0, seconds)));
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString filmProgressBar(const FilmProgress &p, int width)
{
    const int filled = p.total > 0 ? int(qint64(width) * p.done / p.total) : 0;
    return QStringLiteral("[%1%2] %3/%4  %5 pictures/s  %6")
        .arg(QString(filled, u'#'), QString(width - filled, u'.'))
        .arg(p.done)
        .arg(p.total)
        .arg(rateOf(p), 0, 'f', 1)
        .arg(leftText(p));
}

QString filmProgressLine(const FilmProgress &p)
{
    return QStringLiteral("%1 of %2 pictures, %3 pictures/s, %4")
        .arg(p.done)
        .arg(p.total)
        .arg(rateOf(p), 0, 'f', 1)
        .arg(leftText(p));
}

} // namespace framelog
