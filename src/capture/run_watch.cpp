#include "capture/run_watch.h"

namespace framelog {

RunWatch::RunWatch(FrameWatchOptions options, Hooks hooks)
    : m_watch(options), m_hooks(std::move(hooks))
{
}

bool RunWatch::judge(const QImage &picture)
{
    const FrameVerdict verdict = m_watch.judge(picture, clock());
    // The reports first: a reload's load then follows what asked for it.
    for (const QString &text : verdict.reports)
        if (m_hooks.report)
            m_hooks.report(text);
    if (verdict.reload && m_hooks.reload)
        m_hooks.reload();
    if (!verdict.write) {
        if (m_hooks.skipped)
            m_hooks.skipped(skipped());
        return false;
    }
    m_judgedToWrite = true;
    return true;
}

void RunWatch::numbered(qint32)
{
    m_judged.push_back(std::exchange(m_judgedToWrite, false));
}

void RunWatch::done(const TickResult &result)
{
    // A result of a tick numbered before this watch existed.
    if (m_judged.empty())
        return;
    const bool judged = m_judged.front();
    m_judged.pop_front();
    if (!judged)
        return;
    if (result.fate == TickResult::Fate::Written)
        m_watch.written();
    else
        m_watch.failed();
}

FrameTotals RunWatch::totals(const RunFailures &failures) const
{
    FrameTotals totals = m_watch.totals(clock());
    totals.failed = failures.count();
    return totals;
}

QString RunWatch::summary(const RunFailures &failures) const
{
    return runSummaryText(totals(failures));
}

} // namespace framelog
