#pragma once

#include <QImage>
#include <QString>

#include <optional>

namespace framelog {

// A camera that is down, as one recorder camera sees it: while its page
// has failed to load no picture is taken, the ticks that fall meanwhile
// are counted as missed, and the page is asked for again after a delay
// that starts at 5 s and doubles up to a cap (5 min, or the reload
// interval when that is shorter). Times are a monotonic clock's
// milliseconds, handed in.
//
// Once the page is back, the view may go on showing the error page for a
// moment: the engine reports the new page drawn while the old frame is
// still on screen (a new renderer process, and the page's first paint
// held back). Pictures that still look like what the view showed while
// down are missed too, for at most kSettleMs.
class PageOutage {
public:
    static constexpr qint64 kFirstRetryMs = 5000;
    static constexpr qint64 kLongestRetryMs = 5 * 60 * 1000;
    static constexpr qint64 kSettleMs = 3000;
    // At most this share of 8x8 blocks changed: still the page of before
    // (a blinking caret, a spinner).
    static constexpr double kSameShare = 0.02;

    // The delay before try `failures` + 1, after `failures` (>= 1) failed
    // loads in a row.
    static qint64 retryDelayMs(int failures, qint64 capMs);

    // `capMs`: the longest delay; kLongestRetryMs or less.
    explicit PageOutage(qint64 capMs = kLongestRetryMs);

    // A load failed: the page is down (since the first failure in a row).
    // Returns the delay before the next try.
    qint64 failed(qint64 nowMs);
    // A load worked: when the page was down, how long (from the first
    // failure), and the outage is over.
    std::optional<qint64> loaded(qint64 nowMs);
    // A tick that came while down.
    void missTick();

    // What the view shows while down, taken before a try.
    void setDownPicture(QImage picture) { m_downPicture = std::move(picture); }
    // After the page is back: true while `picture` still looks like the
    // down picture, within kSettleMs of coming back. The first picture
    // that does not ends the check.
    bool showsDownPicture(const QImage &picture, qint64 nowMs);
    // Whether a picture must be checked (showsDownPicture) now.
    bool settling() const { return !m_downPicture.isNull() && m_failures == 0; }

    bool down() const { return m_failures > 0; }
    int failures() const { return m_failures; }
    // Ticks missed in the outage now under way (none when up).
    qint64 missedNow() const { return m_missedNow; }

    // The run's totals: missed ticks, outages, time down (with the present
    // outage up to `nowMs`).
    qint64 missed() const { return m_missed; }
    int outages() const { return m_outages; }
    qint64 downMs(qint64 nowMs) const;

    // For the run's summary: "12 missed while the page was down (1 outage,
    // 1 min 5 s)"; empty when the page never went down.
    QString summaryText(qint64 nowMs) const;

private:
    qint64 m_capMs;
    int m_failures = 0;
    qint64 m_since = 0;
    qint64 m_missed = 0;
    qint64 m_missedNow = 0;
    int m_outages = 0;
    qint64 m_downBeforeMs = 0;
    QImage m_downPicture;
    qint64 m_upAt = 0;
};

} // namespace framelog
