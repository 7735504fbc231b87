#pragma once

#include "core/exception.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

namespace framelog {

// A recipe or a command line that cannot be used; the message names the
// file and line, or the option, and what is wrong with it.
class ERecipe : public Exception {
public:
    using Exception::Exception;
};

// What a record needs, kept in a small INI file that QSettings reads and
// writes: the page, the names, the two intervals and the switches. The
// window takes one at start-up and the recorder runs from one; where a file
// says nothing, the window's own start values stand, except popups, which a
// record that nobody watches leaves off.
struct Recipe {
    // Empty: the start page.
    QString url;
    QString pattern = QStringLiteral("img%time%.jpg");
    qint64 everyMs = 1000;
    qint64 reloadEveryMs = 45 * 60 * 1000;
    bool reload = true;
    bool overwrite = true;
    // In the browser area's pixels; none: the whole area.
    std::optional<QRect> area;
    // The browser area's size; only the recorder has one to set.
    QSize size{1280, 720};
    bool popups = false;
    bool offline = false;

    // Pictures worth keeping; each unset (off) unless the file or an option
    // sets it, and written only when set.
    enum class OnStall { Log, Reload };
    // Hold a tick that falls into a reload until the page is drawn, at
    // most this long.
    std::optional<qint64> waitForLoadMs;
    // Skip a picture whose share of changed 8x8 blocks against the last
    // written one is at most this (0 to below 1).
    std::optional<double> skipUnchanged;
    // Pictures unchanged or one flat colour this long: the run is stalled.
    std::optional<qint64> stallAfterMs;
    std::optional<OnStall> onStall;
    // framelog-record hides the page between pictures (when they are far
    // enough apart) and wakes it before each; the window ignores it.
    bool restBetween = false;

    // A record that fits its disk (the recorder's; each unset unless set).
    // Its own pictures older than this many days are removed.
    std::optional<int> keepDays;
    // Its own pictures stay under this many bytes, the oldest go first.
    std::optional<qint64> keepSize;
    // At most this many of its own pictures stay, the oldest go first.
    std::optional<qint64> keepCount;
    // Below this many free bytes on the pictures' disk, pictures pause.
    std::optional<qint64> minFree;
    // Real cameras; each unset unless given, and written only when set.
    // The browser profile: a name, or "none" for one that keeps nothing.
    // Unset, the window uses "default" and the recorder "none".
    std::optional<QString> profile;
    // The login the recorder answers with: the user name, and the path of
    // a file holding the password (never the password itself).
    QString user;
    QString passwordFile;
    // SHA-256 fingerprints of certificates to accept although the browser
    // does not trust them, as fingerprintText writes them.
    QStringList trustCertificates;

    friend bool operator==(const Recipe &, const Recipe &) = default;
};

namespace recipe_key {
inline const QString url = QStringLiteral("url");
inline const QString pattern = QStringLiteral("pattern");
inline const QString every = QStringLiteral("every");
inline const QString reloadEvery = QStringLiteral("reload-every");
inline const QString reload = QStringLiteral("reload");
inline const QString overwrite = QStringLiteral("overwrite");
inline const QString area = QStringLiteral("area");
inline const QString size = QStringLiteral("size");
inline const QString popups = QStringLiteral("popups");
inline const QString offline = QStringLiteral("offline");
inline const QString waitForLoad = QStringLiteral("wait-for-load");
inline const QString skipUnchanged = QStringLiteral("skip-unchanged");
inline const QString stallAfter = QStringLiteral("stall-after");
inline const QString onStall = QStringLiteral("on-stall");
inline const QString keepDays = QStringLiteral("keep-days");
inline const QString keepSize = QStringLiteral("keep-size");
inline const QString keepCount = QStringLiteral("keep-count");
inline const QString minFree = QStringLiteral("min-free");
inline const QString profile = QStringLiteral("profile");
inline const QString user = QStringLiteral("user");
inline const QString passwordFile = QStringLiteral("password-file");
inline const QString trustCertificate = QStringLiteral("trust-certificate");
inline const QString restBetween = QStringLiteral("rest-between");
} // namespace recipe_key

// Every key a recipe may hold, in the order they are documented.
const QStringList &recipeKeys();

// Sets one key from its text, as a file or an option gives it. Intervals
// take the interval fields' syntax and units ("5s", "500 ms", "1h+30min");
// a bare number is in the field's own unit: seconds for `every`, minutes
// for `reload-every`; `wait-for-load` and `stall-after` take the same
// syntax with seconds. `skip-unchanged` is a fraction ("0.05") or a
// percentage ("5%") below 1; `on-stall` is log or reload. "off" unsets
// `wait-for-load`, `skip-unchanged` and `stall-after`. `profile` is a
// profile name or none; `trust-certificate` is one or more SHA-256
// fingerprints separated by commas or spaces. Throws ERecipe
// "<key>: <what is wrong>" for an unknown key or a text that does not read
// as the key's kind or lies outside its range. `keep-days` and
// `keep-count` are whole numbers from 1, `keep-size` and `min-free` sizes
// ("20GiB", byte_size.h); "off" unsets each.
void setRecipeValue(Recipe &recipe, const QString &key, const QString &text);

// Reads `path` over `recipe`: the keys the file holds replace what
// `recipe` has, the others stay. Throws ERecipe "<path>:<line>: <what>" for
// an unreadable file, an unknown key or section, a line that is not
// "key = value", a key given twice or a value that does not read.
Recipe readRecipe(const QString &path, Recipe recipe = {});

// Writes every key of `recipe` to `path` with QSettings, the four keys of
// pictures worth keeping only when set; throws ERecipe when the file cannot
// be written.
void writeRecipe(const Recipe &recipe, const QString &path);
// The text writeRecipe() would write.
QByteArray recipeText(const Recipe &recipe);

// The value texts as a recipe holds them; each reads back to the same value.
QString intervalText(qint64 ms);
QString areaText(const std::optional<QRect> &area);
QString sizeText(QSize size);
// A skip threshold as a fraction, shortest exact form ("0.05").
QString thresholdText(double threshold);

// An interval's text in milliseconds; `fieldUnit` ("s" or "min") is the
// unit of a bare number. Nothing when the text does not read.
std::optional<qint64> parseIntervalMs(const QString &text, const QString &fieldUnit);

// The recorder's limits: a picture every 0.1 s to 24 h, a reload every 10 s
// to 7 days, the area inside the browser area. Throws ERecipe naming the
// value that lies outside.
void checkRecorderLimits(const Recipe &recipe);

inline constexpr qint64 kRecorderMinEveryMs = 100;
inline constexpr qint64 kRecorderMaxEveryMs = 24 * 3600 * 1000;
inline constexpr qint64 kRecorderMinReloadMs = 10 * 1000;
inline constexpr qint64 kRecorderMaxReloadMs = 7LL * 24 * 3600 * 1000;
inline constexpr int kMaxBrowserSide = 8192;
// The ranges of the keys of pictures worth keeping, for both programs.
inline constexpr qint64 kMinWaitForLoadMs = 100;
inline constexpr qint64 kMaxWaitForLoadMs = 10 * 60 * 1000;
inline constexpr qint64 kMinStallAfterMs = 1000;
inline constexpr qint64 kMaxStallAfterMs = 7LL * 24 * 3600 * 1000;
inline constexpr int kMaxKeepDays = 100 * 366;

} // namespace framelog
