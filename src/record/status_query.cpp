#include "record/status_query.h"

#include "record/record_options.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace framelog {

QString statusReport(const QList<RecorderStatus> &recorders, const QDateTime &now)
{
    QString report;
    for (const RecorderStatus &recorder : recorders)
        for (const RecipeStatus &recipe : recorder.recipes)
            report += recipeStatusLine(recipe, now, recorder.pid) + u'\n';
    if (report.isEmpty())
        report = QStringLiteral("No framelog-record is running.\n");
    return report;
}

QByteArray statusReportJson(const QList<RecorderStatus> &recorders)
{
    QJsonArray recipes;
    for (const RecorderStatus &recorder : recorders) {
        const QDateTime updated =
            recorder.updated.toOffsetFromUtc(recorder.updated.offsetFromUtc());
        for (const RecipeStatus &recipe : recorder.recipes) {
            QJsonObject object = recipe.toJson();
            object.insert(QStringLiteral("pid"), recorder.pid);
            object.insert(QStringLiteral("updated"),
                          updated.isValid() ? QJsonValue(updated.toString(Qt::ISODateWithMs))
                                            : QJsonValue());
            recipes.append(object);
        }
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("recipes"), recipes}})
        .toJson(QJsonDocument::Indented);
}

std::optional<int> runStatusQuery(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    addRecordOptions(parser);
    // A line that does not parse is the recorder's to report.
    try {
        arguments = recordArguments(arguments);
    } catch (const ERecipe &) {
        return std::nullopt;
    }
    if (!parser.parse(arguments) || parser.isSet(QStringLiteral("help")) ||
        parser.isSet(QStringLiteral("version")))
        return std::nullopt;
    const bool status = parser.isSet(QStringLiteral("status"));
    const bool json = parser.isSet(QStringLiteral("json"));
    if (!status && !json)
        return std::nullopt;
    if (!status) {
        std::fputs("framelog-record: --json goes with --status\n"
                   "Try 'framelog-record --help'.\n",
                   stderr);
        return 2;
    }
    // Qt's remark that XDG_RUNTIME_DIR is unset (and where it looks instead)
    // is no answer to the question.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtFatalMsg || type == QtCriticalMsg)
            std::fprintf(stderr, "framelog-record: %s\n", message.toLocal8Bit().constData());
    });
    const QList<RecorderStatus> recorders = readRunningRecorders();
    const QByteArray out =
        json ? statusReportJson(recorders)
             : statusReport(recorders, QDateTime::currentDateTime()).toLocal8Bit();
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return 0;
}

} // namespace framelog
