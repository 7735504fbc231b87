#pragma once

#include "core/exception.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QCommandLineParser;

namespace framelog {

// A command line or an input that cannot make a film: exit code 2.
class EFilmInput : public Exception {
public:
    using Exception::Exception;
};

enum class FilmCodec { H264, VP9, AV1 };

// What framelog-timelapse is asked to do.
struct FilmPlan {
    // Where the pictures are: a folder (every picture beneath it), a glob
    // ("cam/*/*.jpg"), or a file name pattern ("cam/%isodate%/%isotime%.jpg",
    // itself or from a recipe).
    QString folder;
    QString glob;
    // Set for a pattern: finds the counter in a name.
    QString pattern;
    enum class Order { Time, Counter };
    Order order = Order::Time;
    std::optional<QDateTime> from;
    std::optional<QDateTime> to;
    double fps = 30;
    int every = 1;
    std::optional<int> crf;
    QString preset; // x264's; empty: medium
    QString output;
    FilmCodec codec = FilmCodec::H264;
    bool quiet = false;
    bool timings = false;
};

// The options, in the usual GNU style, with --help and --version.
void addFilmOptions(QCommandLineParser &parser);
// The plan for a parsed command line; throws EFilmInput naming what is wrong.
FilmPlan filmPlan(const QCommandLineParser &parser);

// The codec an output name asks for: .mp4, .m4v, .mov H.264; .webm and .mkv
// VP9, or AV1 with `asked` = "av1". Throws EFilmInput.
FilmCodec codecFor(const QString &output, const QString &asked);

// A file name pattern as a glob: each placeholder a "*", and in the name
// part the characters the pattern makes '-' made so.
QString patternGlob(const QString &pattern);
// A pattern as a regular expression over whole paths, the counter
// (%counter% or %counter:N%) captured as "counter".
QRegularExpression patternExpression(const QString &pattern);
// A date and time, or a date ("2026-12-09", "2026-12-09 14:05",
// "2026-12-09T14:05:09"), in local time; a date alone is its first
// moment, or with `endOfDay` its last. Nothing when it does not read.
std::optional<QDateTime> parseFilmTime(const QString &text, bool endOfDay);

// One picture found.
struct FilmPicture {
    QString path;
    qint64 mtimeMs = 0;
    std::optional<qint64> counter;
};

// The pictures of the plan in film order: found, filtered by --from and
// --to (file time), ordered (file time or counter, then name), one in
// --every. Temporary files of the writer are never pictures.
std::vector<FilmPicture> filmPictures(const FilmPlan &plan);

} // namespace framelog
