#include "record/record_options.h"

#include "core/browser_profile.h"
#include "core/echo_text.h"
#include "record/page_rest.h"
#include "record/run_outcome.h"
#include "settings/credentials.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHash>

namespace framelog {

namespace {

// Options that set one recipe key from their value.
const QHash<QString, QString> &valueOptions()
{
    static const QHash<QString, QString> options = {
        {QStringLiteral("url"), recipe_key::url},
        {QStringLiteral("pattern"), recipe_key::pattern},
        {QStringLiteral("every"), recipe_key::every},
        {QStringLiteral("reload-every"), recipe_key::reloadEvery},
        {QStringLiteral("area"), recipe_key::area},
        {QStringLiteral("size"), recipe_key::size},
        {QStringLiteral("wait-for-load"), recipe_key::waitForLoad},
        {QStringLiteral("skip-unchanged"), recipe_key::skipUnchanged},
        {QStringLiteral("stall-after"), recipe_key::stallAfter},
        {QStringLiteral("on-stall"), recipe_key::onStall},
        {QStringLiteral("keep-days"), recipe_key::keepDays},
        {QStringLiteral("keep-size"), recipe_key::keepSize},
        {QStringLiteral("keep-count"), recipe_key::keepCount},
        {QStringLiteral("min-free"), recipe_key::minFree},
        {QStringLiteral("profile"), recipe_key::profile},
        {QStringLiteral("user"), recipe_key::user},
        {QStringLiteral("password-file"), recipe_key::passwordFile},
        {QStringLiteral("rest-between"), recipe_key::restBetween},
    };
    return options;
}

QString recipeName(const QString &path)
{
    return QFileInfo(path).completeBaseName();
}

// Applies the recipe options in the order they were given; returns the name
// of the last --recipe file, if any.
QString applyOptions(const QCommandLineParser &parser, Recipe &recipe)
{
    QString name;
    QHash<QString, qsizetype> seen;
    for (const QString &option : parser.optionNames()) {
        const qsizetype index = seen[option]++;
        const auto value = [&] { return parser.values(option).value(index); };
        try {
            if (option == u"recipe") {
                recipe = readRecipe(value(), recipe);
                name = recipeName(value());
            } else if (valueOptions().contains(option)) {
                setRecipeValue(recipe, valueOptions().value(option), value());
                // A reload interval asks for reloads.
                if (option == u"reload-every")
                    recipe.reload = true;
            } else if (option == u"no-reload") {
                recipe.reload = false;
            } else if (option == u"no-overwrite") {
                recipe.overwrite = false;
            } else if (option == u"popups") {
                recipe.popups = true;
            } else if (option == u"offline") {
                recipe.offline = true;
            } else if (option == u"private") {
                recipe.profile = kNoProfile;
            } else if (option == u"trust-certificate") {
                // Each one adds to those the recipe trusts.
                Recipe more;
                setRecipeValue(more, recipe_key::trustCertificate, value());
                for (const QString &fingerprint : std::as_const(more.trustCertificates))
                    if (!recipe.trustCertificates.contains(fingerprint))
                        recipe.trustCertificates << fingerprint;
            }
        } catch (const ERecipe &e) {
            // A file's errors name the file; an option's name the option.
            if (option == u"recipe")
                throw;
            throw ERecipe(QStringLiteral("--") + e.message());
        }
    }
    return name;
}

} // namespace

QStringList recordArguments(const QStringList &arguments)
{
    // QCommandLineParser knows no option with an optional value: the bare
    // option gets its default here, and a value must follow "=".
    const QString bare = QStringLiteral("--skip-unchanged");
    QStringList result;
    bool options = true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == u"--")
            options = false;
        if (!options || argument != bare || i == 0) {
            result << argument;
            continue;
        }
        // "--skip-unchanged 5%" would read 5% as a recipe file.
        if (i + 1 < arguments.size() && !arguments[i + 1].startsWith(u'-')) {
            Recipe probe;
            bool threshold = true;
            try {
                setRecipeValue(probe, recipe_key::skipUnchanged, arguments[i + 1]);
            } catch (const ERecipe &) {
                threshold = false;
            }
            if (threshold)
                throw ERecipe(QStringLiteral("--skip-unchanged takes its threshold after \"=\": "
                                             "--skip-unchanged=%1")
                                  .arg(arguments[i + 1]));
        }
        result << bare + QStringLiteral("=0");
    }
    return result;
}

QString recordHelpText(const QCommandLineParser &parser)
{
    QString help = parser.helpText();
    // The same width, so the descriptions stay in their column.
    help.replace(QStringLiteral("--skip-unchanged <THRESHOLD>"),
                 QStringLiteral("--skip-unchanged[=THRESHOLD]"));
    return help;
}

void addRecordOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Records a web page as numbered JPEG pictures, without a screen."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("url"), QStringLiteral("The page to record (default: the start page)."),
         QStringLiteral("URL")},
        {QStringLiteral("pattern"),
         QStringLiteral("File name pattern with %counter%, %title%, %time%, %shorttime%, %date%, "
                        "%shortdate%, and names that sort: %isodate%, %isotime%, "
                        "%isodatetime%, %counter:N% (N digits); a \"/\" makes folders, which "
                        "are made as needed (default: img%time%.jpg)."),
         QStringLiteral("PATTERN")},
        {QStringLiteral("every"),
         QStringLiteral("Picture interval, 0.1 s to 24 h; a bare number is seconds (default: 1s)."),
         QStringLiteral("INTERVAL")},
        {QStringLiteral("reload-every"),
         QStringLiteral("Reload interval, 10 s to 7 days; a bare number is minutes (default: "
                        "45min)."),
         QStringLiteral("INTERVAL")},
        {QStringLiteral("no-reload"), QStringLiteral("Never reload the page.")},
        {QStringLiteral("area"),
         QStringLiteral("Record only this rectangle of the browser area (pixels)."),
         QStringLiteral("X,Y,W,H")},
        {QStringLiteral("size"),
         QStringLiteral("Size of the browser area in pixels (default: 1280x720)."),
         QStringLiteral("WxH")},
        {QStringLiteral("no-overwrite"), QStringLiteral("Skip a picture whose file exists.")},
        {QStringLiteral("popups"), QStringLiteral("Let the page open popup windows.")},
        {QStringLiteral("offline"),
         QStringLiteral("Let no request reach the network (local pages only).")},
        {QStringLiteral("wait-for-load"),
         QStringLiteral("A picture due while the page reloads waits until it is drawn, at most "
                        "this long (100 ms to 10 min; a bare number is seconds)."),
         QStringLiteral("DURATION")},
        {QStringLiteral("skip-unchanged"),
         QStringLiteral("Do not write a picture whose share of changed 8x8 blocks against the "
                        "last written one is at most THRESHOLD: a fraction (0.05) or a "
                        "percentage (5%), below 1; without a value 0, only identical pictures. "
                        "The value follows \"=\"."),
         QStringLiteral("THRESHOLD")},
        {QStringLiteral("stall-after"),
         QStringLiteral("Pictures unchanged or one flat colour this long (1 s to 7 days) mean a "
                        "stalled page: logged once, and the page reloaded with --on-stall "
                        "reload."),
         QStringLiteral("DURATION")},
        {QStringLiteral("on-stall"),
         QStringLiteral("What a stall does: log (the default) or reload the page, at most once "
                        "per stall period."),
         QStringLiteral("log|reload")},
        {QStringLiteral("keep-days"),
         QStringLiteral("Remove this record's own pictures older than N days."),
         QStringLiteral("N")},
        {QStringLiteral("keep-size"),
         QStringLiteral("Keep this record's own pictures under SIZE (such as 20GiB), the oldest "
                        "going first."),
         QStringLiteral("SIZE")},
        {QStringLiteral("keep-count"),
         QStringLiteral("Keep at most N of this record's own pictures, the oldest going first."),
         QStringLiteral("N")},
        {QStringLiteral("min-free"),
         QStringLiteral("Below SIZE free on the pictures' disk (such as 2GiB), pause the "
                        "pictures until there is room again."),
         QStringLiteral("SIZE")},
        {QStringLiteral("dry-run-retention"),
         QStringLiteral("List the pictures keep-days, keep-size and keep-count would remove now, "
                        "and exit.")},
        {QStringLiteral("profile"),
         QStringLiteral("Keep cookies, storage and cache in this browser profile, shared with "
                        "the window's --profile (default: none, nothing kept)."),
         QStringLiteral("NAME")},
        {QStringLiteral("private"), QStringLiteral("Use no profile: keep nothing (the default).")},
        {QStringLiteral("user"), QStringLiteral("The user name to log in with."),
         QStringLiteral("NAME")},
        {QStringLiteral("password-file"),
         QStringLiteral("A file only you may read, holding the password on its first line; a "
                        "relative name is looked up in $CREDENTIALS_DIRECTORY first."),
         QStringLiteral("FILE")},
        {QStringLiteral("trust-certificate"),
         QStringLiteral("Accept the certificate with this SHA-256 fingerprint although the "
                        "browser does not trust it (may be given more than once)."),
         QStringLiteral("FINGERPRINT")},
        {QStringLiteral("rest-between"),
         QStringLiteral("on: at a picture every %1 or more, hide the page between pictures and "
                        "wake it just before each, for a fraction of the CPU; off (the default) "
                        "keeps it live.")
             .arg(intervalText(kRestFromMs)),
         QStringLiteral("on|off")},
        {QStringLiteral("count"),
         QStringLiteral("Stop after N pictures of each recipe (skipped ones do not count)."),
         QStringLiteral("N")},
        {QStringLiteral("for"),
         QStringLiteral("Stop after this long; a bare number is seconds (such as 90min)."),
         QStringLiteral("DURATION")},
        {QStringLiteral("recipe"), QStringLiteral("Read a recipe; options after it override it."),
         QStringLiteral("FILE")},
        {QStringLiteral("print-recipe"),
         QStringLiteral("Write the recipe for the options given to standard output and exit.")},
        {QStringLiteral("quiet"), QStringLiteral("Log failures only.")},
        {QStringLiteral("status"),
         QStringLiteral("Print what each running recorder of this user is doing, one line per "
                        "recipe, and exit.")},
        {QStringLiteral("json"), QStringLiteral("With --status: print it as JSON.")},
    });
    parser.addPositionalArgument(
        QStringLiteral("recipes"),
        QStringLiteral("Recipe files, each recorded by its own page in this one process."),
        QStringLiteral("[RECIPE...]"));
}

namespace {

// Recipes that share a named profile share its pages' service workers and
// its offline rule: one of them offline would refuse the others' requests
// too, and one online could serve an offline one. So they must agree.
void checkSharedProfiles(const QList<RecordJob> &jobs)
{
    QHash<QString, const RecordJob *> first;
    for (const RecordJob &job : jobs) {
        const QString profile = job.recipe.profile.value_or(kNoProfile);
        if (profile.isEmpty() || profile == kNoProfile)
            continue;
        const RecordJob *other = first.value(profile);
        if (!other) {
            first.insert(profile, &job);
        } else if (other->recipe.offline != job.recipe.offline) {
            throw ERecipe(QStringLiteral("%1 and %2 share the profile \"%3\" but not offline: "
                                         "a profile is online or offline as a whole")
                              .arg(other->name, job.name, profile));
        }
    }
}

} // namespace

RecordPlan recordPlan(const QCommandLineParser &parser)
{
    RecordPlan plan;
    plan.quiet = parser.isSet(QStringLiteral("quiet"));
    plan.printRecipe = parser.isSet(QStringLiteral("print-recipe"));
    plan.dryRunRetention = parser.isSet(QStringLiteral("dry-run-retention"));
    if (parser.isSet(QStringLiteral("count"))) {
        const QString text = parser.value(QStringLiteral("count"));
        bool ok = false;
        const qint64 count = text.trimmed().toLongLong(&ok);
        if (!ok || count < 1)
            throw ERecipe(QStringLiteral("--count: \"%1\" is not a number of pictures from 1")
                              .arg(echoText(text)));
        plan.count = count;
    }
    if (parser.isSet(QStringLiteral("for"))) {
        const QString text = parser.value(QStringLiteral("for"));
        const auto ms = parseIntervalMs(text, QStringLiteral("s"));
        if (!ms || *ms < 1)
            throw ERecipe(
                QStringLiteral("--for: \"%1\" is not a duration (such as 90s, 30min, 24h)")
                    .arg(echoText(text)));
        plan.forMs = *ms;
    }

    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        RecordJob job{QStringLiteral("-"), Recipe{}};
        const QString name = applyOptions(parser, job.recipe);
        if (!name.isEmpty())
            job.name = name;
        plan.jobs << job;
    } else {
        for (const QString &file : files) {
            RecordJob job{recipeName(file), readRecipe(file)};
            applyOptions(parser, job.recipe);
            plan.jobs << job;
        }
    }
    if (plan.printRecipe && plan.jobs.size() > 1)
        throw ERecipe(QStringLiteral("--print-recipe writes one recipe, and %1 recipe files are "
                                     "given")
                          .arg(plan.jobs.size()));
    for (RecordJob &job : plan.jobs) {
        try {
            checkRecorderLimits(job.recipe);
            if (job.recipe.user.isEmpty() != job.recipe.passwordFile.isEmpty())
                throw ERecipe(QStringLiteral("user and password-file go together"));
            if (!job.recipe.passwordFile.isEmpty() && !plan.printRecipe)
                job.password = readPasswordFile(job.recipe.passwordFile,
                                                qEnvironmentVariable("CREDENTIALS_DIRECTORY"));
        } catch (const ERecipe &e) {
            throw ERecipe(job.name == u"-" ? e.message()
                                           : job.name + QStringLiteral(": ") + e.message());
        }
    }
    // Two recipes writing the same file would replace each other's pictures.
    checkSharedNames(plan.jobs);
    checkSharedProfiles(plan.jobs);
    return plan;
}

} // namespace framelog
