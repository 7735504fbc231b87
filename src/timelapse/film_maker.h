#pragma once

#include "timelapse/film_plan.h"

#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <vector>

namespace framelog {

// The film could not be made or written: exit code 1.
class EFilm : public Exception {
public:
    using Exception::Exception;
};

// How far a film is: pictures handed to the encoder of all there are.
struct FilmProgress {
    qint64 done = 0;
    qint64 total = 0;
    qint64 skipped = 0;
    double elapsedS = 0;
};

// Where the time went, in CPU seconds, and the wall time.
struct FilmTimings {
    double readAndDecodeS = 0;
    double scaleS = 0;
    double encodeS = 0; // the encoder's threads and the muxer: the rest of the CPU time
    double wallS = 0;
};

struct FilmResult {
    qint64 frames = 0;
    qint64 skipped = 0;
    QSize size;
    FilmTimings timings;
};

struct FilmHooks {
    // A picture that cannot be read or decoded: skipped.
    std::function<void(const QString &path, const QString &why)> warn;
    std::function<void(const FilmProgress &)> progress;
    // Set to stop: no film is written.
    const std::atomic<bool> *stop = nullptr;
};

// Makes the film of `pictures` as the plan says, through FFmpeg's libraries:
// pictures are read and decoded (JPEG, PNG) on a thread of their own while
// the encoder works on the ones before. The film's size is the first
// readable picture's, rounded up to even sides; a picture of another size
// is scaled to fit and padded with black, never dropped. The film is
// written into a hidden temporary file beside the output (named as the
// picture writer names its own, so a sweep of leftovers knows it), flushed
// to disk, and renamed over the output only when whole.
//
// Throws EFilmInput when no picture can be read, EFilm when the film
// cannot be encoded or written (nothing is left behind then).
FilmResult makeFilm(const FilmPlan &plan, const std::vector<FilmPicture> &pictures,
                    const FilmHooks &hooks);

// The encoder's name for a codec ("libx264"...), the one this FFmpeg has.
QString encoderName(FilmCodec codec);

} // namespace framelog
