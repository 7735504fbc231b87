#include "record/page_outage.h"

#include "capture/frame_compare.h"
#include "core/length_text.h"

#include <algorithm>

namespace framelog {

qint64 PageOutage::retryDelayMs(int failures, qint64 capMs)
{
    // Doubling stops at the cap long before the shift could overflow.
    qint64 delay = kFirstRetryMs;
    for (int i = 1; i < failures && delay < capMs; ++i)
        delay *= 2;
    return std::min(delay, capMs);
}

PageOutage::PageOutage(qint64 capMs) : m_capMs(std::clamp<qint64>(capMs, 1, kLongestRetryMs)) {}

qint64 PageOutage::failed(qint64 nowMs)
{
    if (m_failures == 0) {
        m_since = nowMs;
        m_missedNow = 0;
        ++m_outages;
    }
    ++m_failures;
    return retryDelayMs(m_failures, m_capMs);
}

std::optional<qint64> PageOutage::loaded(qint64 nowMs)
{
    if (m_failures == 0)
        return std::nullopt;
    m_failures = 0;
    m_upAt = nowMs;
    const qint64 down = std::max<qint64>(0, nowMs - m_since);
    m_downBeforeMs += down;
    return down;
}

bool PageOutage::showsDownPicture(const QImage &picture, qint64 nowMs)
{
    if (!settling())
        return false;
    if (nowMs - m_upAt <= kSettleMs && compareBlocks(picture, m_downPicture).share() <= kSameShare)
        return true;
    m_downPicture = QImage();
    return false;
}

void PageOutage::missTick()
{
    ++m_missed;
    ++m_missedNow;
}

qint64 PageOutage::downMs(qint64 nowMs) const
{
    return m_downBeforeMs + (m_failures > 0 ? std::max<qint64>(0, nowMs - m_since) : 0);
}

QString PageOutage::summaryText(qint64 nowMs) const
{
    if (m_outages == 0)
        return {};
    const QString outages =
        m_outages == 1 ? QStringLiteral("1 outage") : QStringLiteral("%1 outages").arg(m_outages);
    return QStringLiteral("%1 missed while the page was down (%2, %3)")
        .arg(m_missed)
        .arg(outages, lengthText(downMs(nowMs)));
}

} // namespace framelog
