#pragma once

#include <QString>

namespace framelog {

// A length of time in the units of the interval fields, for logs and the
// status bar: "850 ms", "42 s", "5 min 12 s", "2 h 0 min 5 s". Whole
// seconds from one second up, cut down, never rounded up.
QString lengthText(qint64 ms);

} // namespace framelog
