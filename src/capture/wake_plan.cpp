#include "capture/wake_plan.h"

#include <algorithm>

namespace framelog {

namespace {

// Room above the slowest recent wake, for a wake somewhat slower still.
constexpr WakePlan::ms kMargin{40};

} // namespace

// A long rest may be followed by a slow wake: from 30 s, a twentieth of the
// interval is allowed, and asked for at first.
WakePlan::WakePlan(ms interval, Limits limits)
    : m_interval(interval), m_limits(limits), m_lead(clamp(std::max(limits.first, interval / 20)))
{
}

WakePlan::ms WakePlan::clamp(ms lead) const
{
    const ms most = std::min(std::max(m_limits.most, m_interval / 20), m_interval / 2);
    return std::max(std::min(lead, most), std::min(m_limits.least, most));
}

void WakePlan::woke(ms at)
{
    m_awake = true;
    m_drawn = false;
    m_wokeAt = at;
}

void WakePlan::drawn(ms, bool baselineFlat)
{
    if (!m_awake)
        return;
    m_drawn = true;
    m_baselineFlat = baselineFlat;
}

WakePlan::Step WakePlan::frame(ms at, bool changed, bool flat)
{
    if (!comparing() || !changed || (flat && !m_baselineFlat))
        return Step::Wait;
    m_awake = false;
    m_fresh = true;
    m_latencies.push_back(std::max(at - m_wokeAt, ms(0)));
    if (m_latencies.size() > kRemembered)
        m_latencies.pop_front();
    // One and a half times the slowest recent wake: the picture then comes
    // before its tick, also from a wake somewhat slower than those.
    const ms slowest = *std::max_element(m_latencies.begin(), m_latencies.end());
    m_lead = clamp(slowest * 3 / 2 + kMargin);
    return Step::Take;
}

void WakePlan::due(ms)
{
    if (!m_awake)
        return;
    m_awake = false;
    m_fresh = m_drawn;
    // A page that had not drawn by its tick, or that showed nothing new
    // while its wakes before did, was slow to wake: it is woken twice as
    // early next time. A page that never changed taught nothing.
    if (!m_drawn || !m_latencies.empty())
        m_lead = clamp(m_lead * 2);
}

} // namespace framelog
