#pragma once

#include "settings/recipe.h"

#include <QList>
#include <QString>

#include <optional>

class QCommandLineParser;

namespace framelog {

// One recipe of a record and the name its log lines carry: the recipe
// file's base name, or "-" for a recipe made of options alone.
struct RecordJob {
    QString name;
    Recipe recipe;
    // Read from the recipe's password-file when the plan is made; never
    // logged or written anywhere.
    QString password = {};
};

// What a framelog-record command line asks for.
struct RecordPlan {
    QList<RecordJob> jobs;
    // Pictures per recipe before the recorder ends; none: no limit.
    std::optional<qint64> count;
    // How long the recorder runs; none: until it is stopped.
    std::optional<qint64> forMs;
    bool quiet = false;
    bool printRecipe = false;
    // List what retention would remove now, and exit.
    bool dryRunRetention = false;
};

// The recorder's options, in the usual GNU style, with --help and --version.
void addRecordOptions(QCommandLineParser &parser);
// The command line as the parser takes it: a bare --skip-unchanged (no
// "=") means --skip-unchanged=0. Throws ERecipe when a threshold follows it
// as the next argument, where it would be read as a recipe file.
QStringList recordArguments(const QStringList &arguments);
// The parser's help, showing --skip-unchanged's value as optional.
QString recordHelpText(const QCommandLineParser &parser);

// The plan for a parsed command line. Recipe options (--url ... --offline,
// and --recipe FILE) apply in the order given, a later one overriding an
// earlier one; each recipe file named as an argument is a recipe of its
// own, read first and then overridden by those options. Throws ERecipe
// naming the option, file or value that is wrong, and for a password-file
// that cannot be used (credentials.h; unless the plan only prints).
RecordPlan recordPlan(const QCommandLineParser &parser);

} // namespace framelog
