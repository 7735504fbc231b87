#pragma once

#include "record/status_file.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace framelog {

// `framelog-record --status`: one line per recipe of every running
// recorder, or "No framelog-record is running." when there is none.
QString statusReport(const QList<RecorderStatus> &recorders, const QDateTime &now);
// `--status --json`: {"recipes": [...]}, each recipe with its recorder's
// "pid" and the time its status was last "updated".
QByteArray statusReportJson(const QList<RecorderStatus> &recorders);

// Answers a command line that asks for --status (with or without --json)
// from the status files, without starting a browser; returns the exit
// code. Empty for any other command line, which the recorder handles.
std::optional<int> runStatusQuery(int argc, char *argv[]);

} // namespace framelog
