#pragma once

#include "timelapse/film_maker.h"

#include <QString>

namespace framelog {

// The progress line on a terminal: a bar of `width` cells, pictures done of
// all, the rate and the time left.
// "[##########..........] 420/1000  37.2 pictures/s  0:15 left"
QString filmProgressBar(const FilmProgress &progress, int width = 24);
// The plain line where standard error is no terminal (a log, a pipe).
// "420 of 1000 pictures, 37.2 pictures/s, 0:15 left"
QString filmProgressLine(const FilmProgress &progress);
// "1:02:05", "2:05", "0:09" for a number of seconds.
QString clockText(double seconds);

} // namespace framelog
