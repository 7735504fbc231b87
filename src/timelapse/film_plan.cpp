#include "timelapse/film_plan.h"

#include "capture/file_name_pattern.h"
#include "capture/whole_file.h"
#include "core/paths.h"
#include "settings/recipe.h"

#include <QCommandLineParser>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

#include <glob.h>

namespace framelog {

namespace {

bool isPictureName(const QString &name)
{
    const QString lower = name.toLower();
    return !name.startsWith(u'.') && !WholeFileWriter::isTemporaryName(name) &&
           (lower.endsWith(u".jpg") || lower.endsWith(u".jpeg") || lower.endsWith(u".png"));
}

// The placeholder that starts at `at` in `text`: its length, 0 for none.
// `counter` tells whether it is the picture's number.
qsizetype placeholderAt(const QString &text, qsizetype at, bool &counter)
{
    for (const Placeholder &p : placeholders()) {
        if (p.takesWidth) {
            const QStringView token = p.token;
            const QStringView head = token.left(token.indexOf(u'N'));
            if (!QStringView(text).mid(at).startsWith(head, Qt::CaseInsensitive))
                continue;
            qsizetype end = at + head.size();
            while (end < text.size() && end - at - head.size() < 2 && text.at(end) >= u'0' &&
                   text.at(end) <= u'9')
                ++end;
            if (end > at + head.size() && end < text.size() && text.at(end) == u'%' &&
                QStringView(text).mid(at + head.size(), end - at - head.size()).toInt() >= 1) {
                counter = true;
                return end + 1 - at;
            }
            continue;
        }
        if (QStringView(text).mid(at).startsWith(p.token, Qt::CaseInsensitive)) {
            counter = p.token == u"%counter%";
            return p.token.size();
        }
    }
    return 0;
}

// Walks a pattern: `literal` for each character of its own (made '-' in
// the name part where the name makes it so), `placeholder` for each one.
template <typename Literal, typename Hole>
void walkPattern(const QString &pattern, Literal literal, Hole placeholder)
{
    const qsizetype nameStart = splitAtLastDelimiter(pattern).folder.size();
    for (qsizetype i = 0; i < pattern.size();) {
        bool counter = false;
        if (pattern.at(i) == u'%') {
            if (const qsizetype n = placeholderAt(pattern, i, counter)) {
                placeholder(counter);
                i += n;
                continue;
            }
        }
        QChar c = pattern.at(i);
        if (i >= nameStart &&
            (c.unicode() < 32 || c == u'\x7f' || QStringView(u"\"*/:<>?\\|").contains(c)))
            c = u'-';
        literal(c);
        ++i;
    }
}

std::optional<qint64> lastNumberIn(const QString &name)
{
    static const QRegularExpression digits(QStringLiteral("([0-9]+)(?!.*[0-9])"));
    const auto match = digits.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 n = match.captured(1).left(18).toLongLong(&ok);
    return ok ? std::optional<qint64>(n) : std::nullopt;
}

QStringList globbed(const QString &pattern)
{
    QStringList paths;
    glob_t found = {};
    const int result = ::glob(QFile::encodeName(pattern).constData(), 0, nullptr, &found);
    if (result == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i)
            paths << QFile::decodeName(found.gl_pathv[i]);
    }
    globfree(&found);
    return paths;
}

int positiveNumber(const QCommandLineParser &parser, const QString &option, int least, int most)
{
    const QString text = parser.value(option);
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < least || n > most)
        throw EFilmInput(QStringLiteral("--%1: \"%2\" is not a whole number from %3 to %4")
                             .arg(option, text)
                             .arg(least)
                             .arg(most));
    return n;
}

} // namespace

void addFilmOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Makes a time-lapse film from the pictures of a record."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {{QStringLiteral("o"), QStringLiteral("output")},
         QStringLiteral("The film: .mp4 (H.264), .webm or .mkv (VP9, or AV1 with --codec av1)."),
         QStringLiteral("FILE")},
        {QStringLiteral("fps"), QStringLiteral("Pictures per second of film (default: 30)."),
         QStringLiteral("N")},
        {QStringLiteral("every"), QStringLiteral("Take one picture in N (default: 1, all)."),
         QStringLiteral("N")},
        {QStringLiteral("from"),
         QStringLiteral("Only pictures from this time on (file time, such as 2026-12-09 or "
                        "2026-12-09T14:00)."),
         QStringLiteral("TIME")},
        {QStringLiteral("to"),
         QStringLiteral("Only pictures up to this time (a date alone: to its end)."),
         QStringLiteral("TIME")},
        {QStringLiteral("order"),
         QStringLiteral("Order by file time (the default) or by the number in the name."),
         QStringLiteral("time|counter")},
        {QStringLiteral("crf"),
         QStringLiteral("Quality: lower is better and larger (default: 23 for H.264, 31 for VP9, "
                        "30 for AV1)."),
         QStringLiteral("N")},
        {QStringLiteral("preset"),
         QStringLiteral("H.264's speed against size, ultrafast to veryslow (default: medium)."),
         QStringLiteral("NAME")},
        {QStringLiteral("codec"), QStringLiteral("For .webm and .mkv: vp9 (the default) or av1."),
         QStringLiteral("vp9|av1")},
        {QStringLiteral("quiet"), QStringLiteral("No progress, only warnings and errors.")},
        {QStringLiteral("timings"),
         QStringLiteral("Say at the end where the time went: reading and decoding, scaling, "
                        "encoding.")},
    });
    parser.addPositionalArgument(
        QStringLiteral("input"),
        QStringLiteral("A folder of pictures, a glob (\"cam/*.jpg\"), a file name pattern "
                       "(\"cam/%isodate%/%isotime%.jpg\") or a recipe (.ini)."),
        QStringLiteral("INPUT"));
}

FilmCodec codecFor(const QString &output, const QString &asked)
{
    const QString suffix = QFileInfo(output).suffix().toLower();
    const QString codec = asked.trimmed().toLower();
    if (!codec.isEmpty() && codec != u"vp9" && codec != u"av1" && codec != u"h264")
        throw EFilmInput(QStringLiteral("--codec: \"%1\" is not vp9 or av1").arg(asked));
    if (suffix == u"mp4" || suffix == u"m4v" || suffix == u"mov") {
        if (!codec.isEmpty() && codec != u"h264")
            throw EFilmInput(QStringLiteral("--codec %1: an .%2 film is H.264; for %1 name a "
                                            ".webm or .mkv film")
                                 .arg(codec, suffix));
        return FilmCodec::H264;
    }
    if (suffix == u"webm" || suffix == u"mkv") {
        if (codec == u"h264" && suffix == u"webm")
            throw EFilmInput(QStringLiteral("--codec h264: a .webm film is VP9 or AV1"));
        if (codec == u"h264")
            return FilmCodec::H264;
        return codec == u"av1" ? FilmCodec::AV1 : FilmCodec::VP9;
    }
    throw EFilmInput(
        QStringLiteral("the film \"%1\" is not named .mp4, .webm or .mkv").arg(output));
}

QString patternGlob(const QString &pattern)
{
    QString glob;
    walkPattern(
        pattern,
        [&](QChar c) {
            if (QStringView(u"*?[\\").contains(c))
                glob += u'\\';
            glob += c;
        },
        [&](bool) { glob += u'*'; });
    return glob;
}

QRegularExpression patternExpression(const QString &pattern)
{
    QString expression = QStringLiteral("^");
    bool named = false;
    walkPattern(
        pattern, [&](QChar c) { expression += QRegularExpression::escape(QString(c)); },
        [&](bool counter) {
            if (counter && !named) {
                expression += QStringLiteral("(?<counter>-?[0-9]+)");
                named = true;
            } else {
                expression += QStringLiteral("[^/]*?");
            }
        });
    return QRegularExpression(expression + u'$');
}

std::optional<QDateTime> parseFilmTime(const QString &text, bool endOfDay)
{
    const QString trimmed = text.trimmed();
    const QDate day = QDate::fromString(trimmed, Qt::ISODate);
    if (day.isValid() && trimmed.size() == 10)
        return endOfDay ? QDateTime(day, QTime(23, 59, 59, 999)) : QDateTime(day, QTime(0, 0));
    QString iso = trimmed;
    if (iso.size() > 10 && iso.at(10) == u' ')
        iso[10] = u'T';
    const QDateTime when = QDateTime::fromString(iso, Qt::ISODate);
    if (!when.isValid())
        return std::nullopt;
    return when;
}

FilmPlan filmPlan(const QCommandLineParser &parser)
{
    FilmPlan plan;
    const QStringList inputs = parser.positionalArguments();
    if (inputs.size() != 1)
        throw EFilmInput(
            inputs.isEmpty()
                ? QStringLiteral("no input: name a folder, a glob, a pattern or a "
                                 "recipe")
                : QStringLiteral("one input at a time, and %1 are given").arg(inputs.size()));
    const QString input = inputs.first();
    if (QFileInfo(input).isDir()) {
        plan.folder = input;
    } else if (input.endsWith(QStringLiteral(".ini"), Qt::CaseInsensitive)) {
        try {
            plan.pattern = readRecipe(input).pattern;
        } catch (const ERecipe &e) {
            throw EFilmInput(e.message());
        }
    } else if (bool counter = false; input.contains(u'%') && [&] {
                   for (qsizetype i = 0; i < input.size(); ++i)
                       if (input.at(i) == u'%' && placeholderAt(input, i, counter))
                           return true;
                   return false;
               }()) {
        plan.pattern = input;
    } else {
        plan.glob = input;
    }
    if (!plan.pattern.isEmpty())
        plan.glob = patternGlob(plan.pattern);

    if (!parser.isSet(QStringLiteral("output")))
        throw EFilmInput(QStringLiteral("no film named: give --output FILE (.mp4, .webm, .mkv)"));
    plan.output = parser.value(QStringLiteral("output"));
    plan.codec = codecFor(plan.output, parser.value(QStringLiteral("codec")));
    if (QFileInfo(plan.output).isDir())
        throw EFilmInput(QStringLiteral("the film \"%1\" is a folder").arg(plan.output));

    if (parser.isSet(QStringLiteral("fps"))) {
        const QString text = parser.value(QStringLiteral("fps"));
        bool ok = false;
        plan.fps = text.trimmed().toDouble(&ok);
        if (!ok || !(plan.fps >= 0.1 && plan.fps <= 240))
            throw EFilmInput(
                QStringLiteral("--fps: \"%1\" is not a number from 0.1 to 240").arg(text));
    }
    if (parser.isSet(QStringLiteral("every")))
        plan.every = positiveNumber(parser, QStringLiteral("every"), 1, 1000000);
    if (parser.isSet(QStringLiteral("crf")))
        plan.crf = positiveNumber(parser, QStringLiteral("crf"), 0,
                                  plan.codec == FilmCodec::H264 ? 51 : 63);
    plan.preset = parser.value(QStringLiteral("preset"));
    static const QStringList presets = {"ultrafast", "superfast", "veryfast", "faster",  "fast",
                                        "medium",    "slow",      "slower",   "veryslow"};
    if (!plan.preset.isEmpty() && !presets.contains(plan.preset))
        throw EFilmInput(QStringLiteral("--preset: \"%1\" is not one of %2")
                             .arg(plan.preset, presets.join(QStringLiteral(", "))));
    if (parser.isSet(QStringLiteral("order"))) {
        const QString order = parser.value(QStringLiteral("order"));
        if (order == u"time")
            plan.order = FilmPlan::Order::Time;
        else if (order == u"counter")
            plan.order = FilmPlan::Order::Counter;
        else
            throw EFilmInput(QStringLiteral("--order: \"%1\" is not time or counter").arg(order));
    }
    for (const bool end : {false, true}) {
        const QString option = end ? QStringLiteral("to") : QStringLiteral("from");
        if (!parser.isSet(option))
            continue;
        const auto when = parseFilmTime(parser.value(option), end);
        if (!when)
            throw EFilmInput(QStringLiteral("--%1: \"%2\" is not a time (such as 2026-12-09 or "
                                            "2026-12-09T14:05)")
                                 .arg(option, parser.value(option)));
        (end ? plan.to : plan.from) = when;
    }
    if (plan.from && plan.to && *plan.to < *plan.from)
        throw EFilmInput(QStringLiteral("--to is before --from"));
    plan.quiet = parser.isSet(QStringLiteral("quiet"));
    plan.timings = parser.isSet(QStringLiteral("timings"));
    return plan;
}

std::vector<FilmPicture> filmPictures(const FilmPlan &plan)
{
    QStringList paths;
    if (!plan.folder.isEmpty()) {
        QDirIterator it(plan.folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            // Not in hidden folders either.
            if (!path.mid(plan.folder.size()).contains(QStringLiteral("/.")))
                paths << path;
        }
    } else {
        paths = globbed(plan.glob);
    }
    const QRegularExpression expression =
        plan.pattern.isEmpty() ? QRegularExpression() : patternExpression(plan.pattern);

    std::vector<FilmPicture> pictures;
    pictures.reserve(size_t(paths.size()));
    for (const QString &path : std::as_const(paths)) {
        const QFileInfo info(path);
        if (!info.isFile() || !isPictureName(info.fileName()))
            continue;
        FilmPicture picture{path, info.lastModified().toMSecsSinceEpoch(), std::nullopt};
        if (plan.from && picture.mtimeMs < plan.from->toMSecsSinceEpoch())
            continue;
        if (plan.to && picture.mtimeMs > plan.to->toMSecsSinceEpoch())
            continue;
        if (plan.order == FilmPlan::Order::Counter) {
            if (expression.isValid() && !plan.pattern.isEmpty()) {
                const auto match = expression.match(path);
                if (match.hasMatch() && match.hasCaptured(QStringLiteral("counter")))
                    picture.counter = match.captured(QStringLiteral("counter")).toLongLong();
            } else {
                picture.counter = lastNumberIn(info.fileName());
            }
        }
        pictures.push_back(std::move(picture));
    }
    const auto byName = [](const FilmPicture &a, const FilmPicture &b) { return a.path < b.path; };
    if (plan.order == FilmPlan::Order::Counter) {
        // Numbered pictures by number; the others after them, by name.
        std::sort(pictures.begin(), pictures.end(),
                  [&](const FilmPicture &a, const FilmPicture &b) {
                      if (a.counter.has_value() != b.counter.has_value())
                          return a.counter.has_value();
                      if (a.counter != b.counter)
                          return *a.counter < *b.counter;
                      return byName(a, b);
                  });
    } else {
        std::sort(pictures.begin(), pictures.end(),
                  [&](const FilmPicture &a, const FilmPicture &b) {
                      return a.mtimeMs != b.mtimeMs ? a.mtimeMs < b.mtimeMs : byName(a, b);
                  });
    }
    if (plan.every > 1) {
        std::vector<FilmPicture> kept;
        for (size_t i = 0; i < pictures.size(); i += size_t(plan.every))
            kept.push_back(std::move(pictures[i]));
        pictures = std::move(kept);
    }
    return pictures;
}

} // namespace framelog
