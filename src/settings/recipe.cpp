#include "settings/recipe.h"

#include "core/browser_profile.h"
#include "core/echo_text.h"
#include "core/secrets.h"
#include "settings/byte_size.h"
#include "settings/ini_value.h"
#include "settings/interval_units.h"
#include "ui/spin_edit_model.h"

#include <QFile>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <cmath>
#include <limits>

namespace framelog {

namespace {

// Beyond this an interval is nonsense to every reader; it is held here so
// that the millisecond count stays an integer.
constexpr long double kIntervalLimitMs = 1e15L;

// Text the user gave, as an error message shows it (echoText).
QString quoted(const QString &text)
{
    return QLatin1Char('"') + echoText(text) + QLatin1Char('"');
}

[[noreturn]] void fail(const QString &key, const QString &what)
{
    throw ERecipe(key + QStringLiteral(": ") + what);
}

bool parseSwitch(const QString &key, const QString &text)
{
    const QString word = text.trimmed().toLower();
    for (const char *on : {"true", "yes", "on", "1"})
        if (word == QLatin1String(on))
            return true;
    for (const char *off : {"false", "no", "off", "0"})
        if (word == QLatin1String(off))
            return false;
    fail(key, quoted(text) + QStringLiteral(" is not true or false"));
}

std::optional<int> parseInt(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

std::optional<QRect> parseArea(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        return std::nullopt;
    const QStringList parts = trimmed.split(QLatin1Char(','));
    const auto bad = [&] {
        fail(recipe_key::area,
             quoted(text) + QStringLiteral(" is not X,Y,WIDTH,HEIGHT (X and Y from 0, "
                                           "WIDTH and HEIGHT from 1) or none"));
    };
    if (parts.size() != 4)
        bad();
    int v[4];
    for (int i = 0; i < 4; ++i) {
        const auto n = parseInt(parts[i]);
        if (!n)
            bad();
        v[i] = *n;
    }
    if (v[0] < 0 || v[1] < 0 || v[2] < 1 || v[3] < 1 || v[0] > kMaxBrowserSide ||
        v[1] > kMaxBrowserSide || v[2] > kMaxBrowserSide || v[3] > kMaxBrowserSide)
        bad();
    return QRect(v[0], v[1], v[2], v[3]);
}

QSize parseSize(const QString &text)
{
    const QStringList parts = text.trimmed().toLower().split(QLatin1Char('x'));
    std::optional<int> w, h;
    if (parts.size() == 2) {
        w = parseInt(parts[0]);
        h = parseInt(parts[1]);
    }
    if (!w || !h || *w < 1 || *h < 1 || *w > kMaxBrowserSide || *h > kMaxBrowserSide)
        fail(recipe_key::size,
             quoted(text) +
                 QStringLiteral(" is not WIDTHxHEIGHT, each 1 to %1").arg(kMaxBrowserSide));
    return QSize(*w, *h);
}

qint64 parseInterval(const QString &key, const QString &text, const QString &fieldUnit)
{
    const auto ms = parseIntervalMs(text, fieldUnit);
    if (!ms)
        fail(key, quoted(text) + QStringLiteral(" is not an interval (such as 5s, 500ms, 2min, "
                                                "1h+30min)"));
    return *ms;
}

bool isOff(const QString &text)
{
    return text.trimmed().compare(QLatin1String("off"), Qt::CaseInsensitive) == 0;
}

// A duration of pictures worth keeping: the intervals' syntax, a bare
// number in seconds, within [least, most].
std::optional<qint64> parseDuration(const QString &key, const QString &text, qint64 least,
                                    qint64 most)
{
    if (isOff(text))
        return std::nullopt;
    const auto ms = parseIntervalMs(text, QStringLiteral("s"));
    if (!ms || *ms < least || *ms > most)
        fail(key, quoted(text) + QStringLiteral(" is not a duration from %1 to %2 (such as 10s, "
                                                "2min) or off")
                                     .arg(intervalText(least), intervalText(most)));
    return ms;
}

// A share of changed blocks: a fraction, or a percentage with "%".
std::optional<double> parseThreshold(const QString &text)
{
    if (isOff(text))
        return std::nullopt;
    QString number = text.trimmed();
    const bool percent = number.endsWith(QLatin1Char('%'));
    if (percent)
        number.chop(1);
    bool ok = false;
    double value = number.trimmed().toDouble(&ok);
    if (ok && percent)
        value /= 100.0;
    if (!ok || !(value >= 0.0 && value < 1.0))
        fail(recipe_key::skipUnchanged,
             quoted(text) + QStringLiteral(" is not a share of changed blocks from 0 to below 1 "
                                           "(such as 0, 0.05 or 5%) or off"));
    return value;
}

// A whole number from 1 to `most`, or off.
std::optional<qint64> parseCount(const QString &key, const QString &text, qint64 most)
{
    if (isOff(text))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    if (!ok || value < 1 || value > most)
        fail(key, quoted(text) +
                      QStringLiteral(" is not a whole number from 1 to %1, or off").arg(most));
    return value;
}

std::optional<qint64> parseSize(const QString &key, const QString &text)
{
    if (isOff(text))
        return std::nullopt;
    const auto bytes = parseByteSize(text);
    if (!bytes)
        fail(key, quoted(text) + QStringLiteral(" is not a size (such as 20GiB, 500MB) or off"));
    return bytes;
}

Recipe::OnStall parseOnStall(const QString &text)
{
    const QString word = text.trimmed().toLower();
    if (word == u"log")
        return Recipe::OnStall::Log;
    if (word == u"reload")
        return Recipe::OnStall::Reload;
    fail(recipe_key::onStall, quoted(text) + QStringLiteral(" is not log or reload"));
}

QString parseProfile(const QString &text)
{
    const QString name = text.trimmed();
    if (name.compare(kNoProfile, Qt::CaseInsensitive) == 0)
        return kNoProfile;
    if (const QString problem = profileNameProblem(name); !problem.isEmpty())
        fail(recipe_key::profile, problem);
    return name;
}

QStringList parseFingerprints(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    QStringList fingerprints;
    for (const QString &word : text.split(separators, Qt::SkipEmptyParts)) {
        const auto sha256 = parseFingerprint(word);
        if (!sha256)
            fail(recipe_key::trustCertificate,
                 quoted(word) + QStringLiteral(" is not a SHA-256 fingerprint (64 hex digits, "
                                               "in pairs with ':' or not)"));
        fingerprints << fingerprintText(*sha256);
    }
    if (fingerprints.isEmpty())
        fail(recipe_key::trustCertificate, QStringLiteral("no fingerprint given"));
    return fingerprints;
}

// One "key = value" line of a recipe file, as QSettings will read it.
struct KeyLine {
    int line = 0;
};

// A value QSettings would cut at an unquoted ';' or split at an unquoted
// ',' is refused: it would be taken in silence as something else. An
// area's commas are its list, which reads the same.
void checkSeparators(const QString &where, const QString &key, const QString &value)
{
    QString scanned = value;
    if (key == recipe_key::area)
        scanned.remove(u',');
    const QChar separator = unquotedIniSeparator(scanned);
    if (separator.isNull())
        return;
    const QString meaning = separator == u';'
                                ? QStringLiteral("a comment starts there and the rest is lost")
                                : QStringLiteral("the value is split there into a list");
    throw ERecipe(where + QStringLiteral(": %1: \"%2\" outside double quotes (%3); write the "
                                         "value quoted: %1 = %4")
                              .arg(key, separator, meaning, echoText(quotedIniValue(value))));
}

// Walks the file's lines the way QSettings' INI reader does, to know the
// line of every key before QSettings reads the values: QSettings itself
// skips what it does not understand without saying where.
QHash<QString, KeyLine> scanLines(const QString &path, const QByteArray &bytes)
{
    QHash<QString, KeyLine> keys;
    // A byte order mark, as some Windows editors write, is not part of a key.
    const QByteArray text = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        const auto where = [&] { return path + QLatin1Char(':') + QString::number(lineNo); };
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            // A recipe keeps its keys outside any section, or in the one
            // QSettings writes them to.
            if (line != QLatin1String("[General]"))
                throw ERecipe(where() + QStringLiteral(": unknown section ") + echoText(line));
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            throw ERecipe(where() + QStringLiteral(": expected key = value, found ") +
                          quoted(line));
        const QString key = line.left(equals).trimmed();
        if (!recipeKeys().contains(key))
            throw ERecipe(where() + QStringLiteral(": unknown key ") + quoted(key));
        if (const auto seen = keys.constFind(key); seen != keys.cend())
            throw ERecipe(where() + QStringLiteral(": key %1 given twice (first on line %2)")
                                        .arg(quoted(key))
                                        .arg(seen->line));
        checkSeparators(where(), key, line.mid(equals + 1).trimmed());
        keys.insert(key, KeyLine{lineNo});
    }
    return keys;
}

} // namespace

const QStringList &recipeKeys()
{
    static const QStringList keys = {
        recipe_key::url,          recipe_key::pattern,
        recipe_key::every,        recipe_key::reloadEvery,
        recipe_key::reload,       recipe_key::overwrite,
        recipe_key::area,         recipe_key::size,
        recipe_key::popups,       recipe_key::offline,
        recipe_key::waitForLoad,  recipe_key::skipUnchanged,
        recipe_key::stallAfter,   recipe_key::onStall,
        recipe_key::keepDays,     recipe_key::keepSize,
        recipe_key::keepCount,    recipe_key::minFree,
        recipe_key::profile,      recipe_key::user,
        recipe_key::passwordFile, recipe_key::trustCertificate,
        recipe_key::restBetween,
    };
    return keys;
}

std::optional<qint64> parseIntervalMs(const QString &text, const QString &fieldUnit)
{
    // The interval fields' own parser and units, with "." as the decimal
    // separator whatever the locale: a recipe reads the same everywhere.
    SpinEditModel model;
    model.setDecimalSeparator(QLatin1Char('.'));
    model.setConverter(
        [&fieldUnit](const QString &, const QString &postfix, long double &value, bool &) {
            value = convertToFieldUnit(fieldUnit, postfix, value);
        });
    std::optional<long double> value;
    try {
        value = model.parse(text);
    } catch (const EOverflow &) {
        return std::nullopt;
    }
    if (!value || std::isnan(*value))
        return std::nullopt;
    const long double perUnit = convertToFieldUnit(QStringLiteral("ms"), fieldUnit, 1.0L);
    const long double ms = std::clamp(*value * perUnit, -kIntervalLimitMs, kIntervalLimitMs);
    return qint64(std::llround(ms));
}

QString intervalText(qint64 ms)
{
    struct Unit {
        qint64 factor;
        const char *name;
    };
    for (const Unit unit : {Unit{3600 * 1000, "h"}, Unit{60 * 1000, "min"}, Unit{1000, "s"}})
        if (ms != 0 && ms % unit.factor == 0)
            return QStringLiteral("%1 %2").arg(ms / unit.factor).arg(QLatin1String(unit.name));
    return ms == 0 ? QStringLiteral("0 s") : QStringLiteral("%1 ms").arg(ms);
}

QString areaText(const std::optional<QRect> &area)
{
    if (!area)
        return QStringLiteral("none");
    return QStringLiteral("%1,%2,%3,%4")
        .arg(area->x())
        .arg(area->y())
        .arg(area->width())
        .arg(area->height());
}

QString sizeText(QSize size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QString thresholdText(double threshold)
{
    return QString::number(threshold, 'g', QLocale::FloatingPointShortest);
}

void setRecipeValue(Recipe &recipe, const QString &key, const QString &text)
{
    using namespace recipe_key;
    if (key == url) {
        recipe.url = text.trimmed();
    } else if (key == pattern) {
        if (text.isEmpty())
            fail(key, QStringLiteral("the pattern is empty"));
        recipe.pattern = text;
    } else if (key == every) {
        recipe.everyMs = parseInterval(key, text, QStringLiteral("s"));
    } else if (key == reloadEvery) {
        recipe.reloadEveryMs = parseInterval(key, text, QStringLiteral("min"));
    } else if (key == reload) {
        recipe.reload = parseSwitch(key, text);
    } else if (key == overwrite) {
        recipe.overwrite = parseSwitch(key, text);
    } else if (key == area) {
        recipe.area = parseArea(text);
    } else if (key == size) {
        recipe.size = parseSize(text);
    } else if (key == popups) {
        recipe.popups = parseSwitch(key, text);
    } else if (key == offline) {
        recipe.offline = parseSwitch(key, text);
    } else if (key == waitForLoad) {
        recipe.waitForLoadMs = parseDuration(key, text, kMinWaitForLoadMs, kMaxWaitForLoadMs);
    } else if (key == skipUnchanged) {
        recipe.skipUnchanged = parseThreshold(text);
    } else if (key == stallAfter) {
        recipe.stallAfterMs = parseDuration(key, text, kMinStallAfterMs, kMaxStallAfterMs);
    } else if (key == onStall) {
        recipe.onStall = parseOnStall(text);
    } else if (key == keepDays) {
        const auto days = parseCount(key, text, kMaxKeepDays);
        recipe.keepDays = days ? std::optional<int>(int(*days)) : std::nullopt;
    } else if (key == keepSize) {
        recipe.keepSize = parseSize(key, text);
    } else if (key == keepCount) {
        recipe.keepCount = parseCount(key, text, std::numeric_limits<qint64>::max());
    } else if (key == minFree) {
        recipe.minFree = parseSize(key, text);
    } else if (key == profile) {
        recipe.profile = parseProfile(text);
    } else if (key == user) {
        recipe.user = text.trimmed();
    } else if (key == passwordFile) {
        recipe.passwordFile = text.trimmed();
    } else if (key == trustCertificate) {
        recipe.trustCertificates = parseFingerprints(text);
    } else if (key == restBetween) {
        recipe.restBetween = parseSwitch(key, text);
    } else {
        throw ERecipe(QStringLiteral("unknown key ") + quoted(key));
    }
}

Recipe readRecipe(const QString &path, Recipe recipe)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ERecipe(path + QStringLiteral(": cannot read the recipe: ") + file.errorString());
    const QHash<QString, KeyLine> keys = scanLines(path, file.readAll());

    const QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        throw ERecipe(path + QStringLiteral(": not an INI file"));
    // In the documented order, so the first bad value is reported first.
    for (const QString &key : recipeKeys()) {
        const auto found = keys.constFind(key);
        if (found == keys.cend())
            continue;
        // QSettings reads an unquoted value with commas as a list.
        const QVariant value = settings.value(key);
        const QString text = value.typeId() == QMetaType::QStringList
                                 ? value.toStringList().join(QLatin1Char(','))
                                 : value.toString();
        try {
            setRecipeValue(recipe, key, text);
        } catch (const ERecipe &e) {
            throw ERecipe(path + QLatin1Char(':') + QString::number(found->line) +
                          QStringLiteral(": ") + e.message());
        }
    }
    return recipe;
}

void writeRecipe(const Recipe &recipe, const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.clear();
    using namespace recipe_key;
    // A password in the address is never written: it belongs in a
    // password-file.
    settings.setValue(url, withoutPassword(recipe.url));
    settings.setValue(pattern, recipe.pattern);
    settings.setValue(every, intervalText(recipe.everyMs));
    settings.setValue(reloadEvery, intervalText(recipe.reloadEveryMs));
    settings.setValue(reload, recipe.reload);
    settings.setValue(overwrite, recipe.overwrite);
    settings.setValue(area, areaText(recipe.area));
    settings.setValue(size, sizeText(recipe.size));
    settings.setValue(popups, recipe.popups);
    settings.setValue(offline, recipe.offline);
    // Off by default: a recipe that never set them says nothing of them.
    if (recipe.waitForLoadMs)
        settings.setValue(waitForLoad, intervalText(*recipe.waitForLoadMs));
    if (recipe.skipUnchanged)
        settings.setValue(skipUnchanged, thresholdText(*recipe.skipUnchanged));
    if (recipe.stallAfterMs)
        settings.setValue(stallAfter, intervalText(*recipe.stallAfterMs));
    if (recipe.onStall)
        settings.setValue(onStall, *recipe.onStall == Recipe::OnStall::Reload
                                       ? QStringLiteral("reload")
                                       : QStringLiteral("log"));
    if (recipe.keepDays)
        settings.setValue(keepDays, *recipe.keepDays);
    if (recipe.keepSize)
        settings.setValue(keepSize, byteSizeText(*recipe.keepSize));
    if (recipe.keepCount)
        settings.setValue(keepCount, *recipe.keepCount);
    if (recipe.minFree)
        settings.setValue(minFree, byteSizeText(*recipe.minFree));
    if (recipe.profile)
        settings.setValue(profile, *recipe.profile);
    if (!recipe.user.isEmpty())
        settings.setValue(user, recipe.user);
    if (!recipe.passwordFile.isEmpty())
        settings.setValue(passwordFile, recipe.passwordFile);
    if (!recipe.trustCertificates.isEmpty())
        settings.setValue(trustCertificate, recipe.trustCertificates.join(QLatin1Char(' ')));
    // Off by default, and said only when on.
    if (recipe.restBetween)
        settings.setValue(restBetween, QStringLiteral("on"));
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw ERecipe(path + QStringLiteral(": cannot write the recipe"));
}

QByteArray recipeText(const Recipe &recipe)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        throw ERecipe(QStringLiteral("cannot make a temporary folder: ") + dir.errorString());
    const QString path = dir.filePath(QStringLiteral("recipe.ini"));
    writeRecipe(recipe, path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ERecipe(path + QStringLiteral(": ") + file.errorString());
    return file.readAll();
}

void checkRecorderLimits(const Recipe &recipe)
{
    if (recipe.everyMs < kRecorderMinEveryMs || recipe.everyMs > kRecorderMaxEveryMs)
        fail(recipe_key::every, intervalText(recipe.everyMs) +
                                    QStringLiteral(" is outside the recorder's 100 ms to 24 h"));
    if (recipe.reloadEveryMs < kRecorderMinReloadMs || recipe.reloadEveryMs > kRecorderMaxReloadMs)
        fail(recipe_key::reloadEvery, intervalText(recipe.reloadEveryMs) +
                                          QStringLiteral(" is outside the recorder's 10 s to "
                                                         "7 days"));
    if (recipe.area && !QRect(QPoint(0, 0), recipe.size).contains(*recipe.area))
        fail(recipe_key::area, areaText(recipe.area) +
                                   QStringLiteral(" reaches outside the browser area ") +
                                   sizeText(recipe.size));
}

} // namespace framelog
