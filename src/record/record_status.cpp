#include "record/record_status.h"

#include <QJsonValue>
#include <QStringList>

namespace framelog {

namespace {

// The longest failure text systemd's one status line carries.
constexpr qsizetype kStatusFailureChars = 100;

QString timeText(const QDateTime &at, const QDateTime &now)
{
    const QDateTime local = at.toLocalTime();
    return local.date() == now.toLocalTime().date()
               ? local.toString(QStringLiteral("HH:mm:ss"))
               : local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString flat(QString text)
{
    return text.replace(u'\r', u' ').replace(u'\n', u' ');
}

QJsonValue timeValue(const QDateTime &at)
{
    if (!at.isValid())
        return QJsonValue::Null;
    // With its offset, as the log writes times.
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QDateTime timeFrom(const QJsonValue &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
}

} // namespace

QString stateText(RecipeStatus::State state)
{
    switch (state) {
    case RecipeStatus::State::Starting:
        return QStringLiteral("starting");
    case RecipeStatus::State::Recording:
        return QStringLiteral("recording");
    case RecipeStatus::State::Stopped:
        break;
    }
    return QStringLiteral("stopped");
}

void RecipeStatus::count(const TickResult &result, const QDateTime &at)
{
    switch (result.fate) {
    case TickResult::Fate::Written:
        ++written;
        lastPictureAt = at;
        lastPicture = result.fileName;
        return;
    case TickResult::Fate::Skipped:
        ++skipped;
        return;
    case TickResult::Fate::Failed:
        break;
    }
    ++failed;
    lastFailureAt = at;
    lastFailure = flat(result.error);
}

void RecipeStatus::pageFailed(const QString &what, const QDateTime &at)
{
    pageLoadedSince = QDateTime();
    lastFailureAt = at;
    lastFailure = flat(what);
}

void RecipeStatus::pageLoaded(const QDateTime &at)
{
    if (!pageLoadedSince.isValid())
        pageLoadedSince = at;
}

QJsonObject RecipeStatus::toJson() const
{
    return QJsonObject{
        {QStringLiteral("name"), name},
        {QStringLiteral("state"), stateText(state)},
        {QStringLiteral("written"), written},
        {QStringLiteral("skipped"), skipped},
        {QStringLiteral("failed"), failed},
        {QStringLiteral("lastPictureTime"), timeValue(lastPictureAt)},
        {QStringLiteral("lastPicture"), lastPicture.isNull() ? QJsonValue() : lastPicture},
        {QStringLiteral("lastFailureTime"), timeValue(lastFailureAt)},
        {QStringLiteral("lastFailure"), lastFailure.isNull() ? QJsonValue() : lastFailure},
        {QStringLiteral("stalled"), stalledSince.isValid()},
        {QStringLiteral("stalledSince"), timeValue(stalledSince)},
        {QStringLiteral("pageLoadedSince"), timeValue(pageLoadedSince)},
    };
}

RecipeStatus RecipeStatus::fromJson(const QJsonObject &object)
{
    RecipeStatus status;
    status.name = object.value(QStringLiteral("name")).toString();
    const QString state = object.value(QStringLiteral("state")).toString();
    for (const State s : {State::Starting, State::Recording, State::Stopped})
        if (state == stateText(s))
            status.state = s;
    status.written = object.value(QStringLiteral("written")).toInteger();
    status.skipped = object.value(QStringLiteral("skipped")).toInteger();
    status.failed = object.value(QStringLiteral("failed")).toInteger();
    status.lastPictureAt = timeFrom(object.value(QStringLiteral("lastPictureTime")));
    if (const QJsonValue v = object.value(QStringLiteral("lastPicture")); v.isString())
        status.lastPicture = v.toString();
    status.lastFailureAt = timeFrom(object.value(QStringLiteral("lastFailureTime")));
    if (const QJsonValue v = object.value(QStringLiteral("lastFailure")); v.isString())
        status.lastFailure = v.toString();
    status.stalledSince = timeFrom(object.value(QStringLiteral("stalledSince")));
    status.pageLoadedSince = timeFrom(object.value(QStringLiteral("pageLoadedSince")));
    return status;
}

QString recipeStatusLine(const RecipeStatus &status, const QDateTime &now, qint64 pid)
{
    QString state = stateText(status.state);
    if (status.stalledSince.isValid())
        state = QStringLiteral("stalled since ") + timeText(status.stalledSince, now);
    QStringList parts{
        status.name + (pid ? QStringLiteral("[%1]").arg(pid) : QString()) + QStringLiteral(": ") +
            state,
        QStringLiteral("%1 written, %2 skipped, %3 failed")
            .arg(status.written)
            .arg(status.skipped)
            .arg(status.failed),
    };
    if (status.lastPictureAt.isValid())
        parts << QStringLiteral("last picture %1 %2")
                     .arg(timeText(status.lastPictureAt, now), status.lastPicture);
    if (status.pageLoadedSince.isValid())
        parts << QStringLiteral("page loaded since ") + timeText(status.pageLoadedSince, now);
    else if (status.state != RecipeStatus::State::Stopped)
        parts << QStringLiteral("no page loaded");
    if (status.lastFailureAt.isValid())
        parts << QStringLiteral("last failure %1 %2")
                     .arg(timeText(status.lastFailureAt, now), status.lastFailure);
    return parts.join(QStringLiteral("; "));
}

QString serviceStatusText(const QList<RecipeStatus> &recipes)
{
    qint64 written = 0;
    qint64 skipped = 0;
    qint64 failed = 0;
    int starting = 0;
    const RecipeStatus *lastFailure = nullptr;
    QStringList stalled;
    for (const RecipeStatus &recipe : recipes) {
        written += recipe.written;
        skipped += recipe.skipped;
        failed += recipe.failed;
        starting += recipe.state == RecipeStatus::State::Starting;
        if (recipe.lastFailureAt.isValid() &&
            (!lastFailure || recipe.lastFailureAt > lastFailure->lastFailureAt))
            lastFailure = &recipe;
        if (recipe.stalledSince.isValid())
            stalled << recipe.name;
    }
    const QString count = recipes.size() == 1 ? QStringLiteral("1 recipe")
                                              : QStringLiteral("%1 recipes").arg(recipes.size());
    QString text = starting == recipes.size() && starting > 0
                       ? QStringLiteral("Loading %1").arg(count)
                       : QStringLiteral("Recording %1").arg(count);
    text +=
        QStringLiteral(": %1 written, %2 skipped, %3 failed").arg(written).arg(skipped).arg(failed);
    if (lastFailure) {
        QString why = lastFailure->lastFailure;
        if (why.size() > kStatusFailureChars)
            why = why.left(kStatusFailureChars - 3) + QStringLiteral("...");
        text += QStringLiteral(" (last: %1: %2)").arg(lastFailure->name, why);
    }
    if (!stalled.isEmpty())
        text += QStringLiteral("; stalled: ") + stalled.join(QStringLiteral(", "));
    return text;
}

} // namespace framelog
