#pragma once

#include "capture/capture_session.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace framelog {

// Where one recipe of a running recorder stands, for `--status`, the
// status file and systemd's status line. Times are local wall-clock times;
// a null time means "never" (or "not now", for a stall).
struct RecipeStatus {
    enum class State {
        Starting,  // the first page is loading; no picture is due yet
        Recording, // pictures are being taken
        Stopped,   // the recipe took its count, or the recorder is ending
    };

    QString name;
    State state = State::Starting;
    qint64 written = 0;
    // Not written: unchanged (skip-unchanged) or the name taken (no overwrite).
    qint64 skipped = 0;
    qint64 failed = 0;
    QDateTime lastPictureAt;
    QString lastPicture;
    QDateTime lastFailureAt;
    QString lastFailure;
    // Since the first of the unchanged or flat pictures, while stalled.
    QDateTime stalledSince;
    // Since when the page has been up: its first good load after the start
    // or after a failed one. Null while no page is loaded.
    QDateTime pageLoadedSince;

    // The fate of one tick, as the capture session reports it.
    void count(const TickResult &result, const QDateTime &at);
    // The page failed to load (`what` says which and why).
    void pageFailed(const QString &what, const QDateTime &at);
    // A load ended well.
    void pageLoaded(const QDateTime &at);

    QJsonObject toJson() const;
    // Missing or mistyped members keep their defaults.
    static RecipeStatus fromJson(const QJsonObject &object);

    bool operator==(const RecipeStatus &) const = default;
};

// One recipe as one line for people, its times relative to `now` (only the
// time of day for today's), with its recorder's process id if given:
// "gate[4711]: recording; 120 written, 3 skipped, 1 failed; last picture
// 14:05:09 /srv/cam/img120.jpg; page loaded since 13:00:02; last failure
// 14:00:01 Cannot create file "..."".
QString recipeStatusLine(const RecipeStatus &status, const QDateTime &now, qint64 pid = 0);

// systemd's STATUS= line for a recorder's recipes: "Recording 2 recipes:
// 120 written, 3 skipped, 1 failed (last: gate: disk full); stalled:
// yard". Kept short: a long failure is cut.
QString serviceStatusText(const QList<RecipeStatus> &recipes);

// The text of a state in lines and JSON: "starting", "recording", "stopped".
QString stateText(RecipeStatus::State state);

} // namespace framelog
