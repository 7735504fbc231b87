#include "capture/frame_watch.h"

#include "core/exception.h"
#include "core/length_text.h"

#include <cmath>

namespace framelog {

FrameWatch::FrameWatch(FrameWatchOptions options) : m_options(options)
{
    // A threshold of 1 would skip even a page of another size.
    if (m_options.skipUnchanged &&
        !(*m_options.skipUnchanged >= 0.0 && *m_options.skipUnchanged < 1.0))
        throw EPropertyError(QStringLiteral("The skip threshold must be at least 0 and below 1"));
    if (m_options.stallAfter && m_options.stallAfter->count() <= 0)
        throw EPropertyError(QStringLiteral("The stall time must be above 0"));
}

QImage FrameWatch::skipReference() const
{
    for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it)
        if (!it->picture.isNull())
            return it->picture;
    return m_written;
}

QImage FrameWatch::stallReference() const
{
    for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it)
        if (!it->picture.isNull() && !it->flat)
            return it->picture;
    return m_writtenSolid;
}

FrameVerdict FrameWatch::judge(const QImage &picture, const QDateTime &at)
{
    FrameVerdict verdict;
    // A picture with nothing in it goes to the writer, which says why it
    // cannot be written; skipping it would hide that.
    if (!m_options.any() || picture.isNull()) {
        m_pending.push_back({});
        return verdict;
    }

    const bool skipping = m_options.skipUnchanged.has_value();
    const auto unchangedFrom = [&](const QImage &reference) {
        if (reference.isNull())
            return false;
        const BlockChange change = compareBlocks(reference, picture);
        return skipping ? double(change.changed) <= *m_options.skipUnchanged * double(change.blocks)
                        : change.changed == 0;
    };

    bool skippable = false;
    // Both taken before this picture joins the ones in flight.
    const QImage skipFrom = skipping ? skipReference() : QImage();
    const QImage stallFrom = skipping && m_options.stallAfter ? stallReference() : QImage();
    if (skipping) {
        skippable = unchangedFrom(skipFrom);
        if (skippable) {
            verdict.write = false;
            ++m_totals.skipped;
        }
    }
    // A flat picture (the blank page of a reload) never becomes the one a
    // stall compares with: the frozen picture that comes back after it is
    // still the same frozen picture, not a change that ends the stall.
    const bool flat = m_options.stallAfter && isFlatColour(picture);
    if (verdict.write)
        m_pending.push_back({skipping ? picture : QImage(), flat});
    if (!m_options.stallAfter)
        return verdict;

    bool unchanged;
    if (skipping) {
        unchanged =
            stallFrom.constBits() == skipFrom.constBits() ? skippable : unchangedFrom(stallFrom);
    } else {
        unchanged = unchangedFrom(m_previous);
        if (!flat)
            m_previous = picture; // skipping off: each picture against the one before
    }

    const qint64 period = m_options.stallAfter->count();
    const bool reload = m_options.onStall == FrameWatchOptions::OnStall::Reload;
    if (unchanged || flat) {
        if (!m_staleSince)
            m_staleSince = at;
        if (!m_stalled && m_staleSince->msecsTo(at) >= period) {
            m_stalled = true;
            ++m_totals.stalls;
            verdict.stalledSince = *m_staleSince;
            verdict.reports << stalledSinceText(*m_staleSince);
            if (reload) {
                verdict.reload = true;
                m_lastReload = at;
            }
        } else if (m_stalled && reload && m_lastReload.msecsTo(at) >= period) {
            verdict.reload = true;
            m_lastReload = at;
        }
        if (verdict.reload)
            verdict.reports << stallReloadText();
    } else {
        if (m_stalled) {
            const qint64 length = m_staleSince->msecsTo(at);
            m_totals.stalledMs += length;
            verdict.stallEndedAfterMs = length;
            verdict.reports << stallEndedText(length);
        }
        m_stalled = false;
        m_staleSince.reset();
    }
    return verdict;
}

void FrameWatch::written()
{
    ++m_totals.written;
    if (m_pending.empty())
        return;
    const Pending done = std::move(m_pending.front());
    m_pending.pop_front();
    if (done.picture.isNull())
        return;
    m_written = done.picture;
    if (!done.flat)
        m_writtenSolid = done.picture;
}

void FrameWatch::failed()
{
    if (!m_pending.empty())
        m_pending.pop_front();
}

FrameTotals FrameWatch::totals(const QDateTime &now) const
{
    FrameTotals totals = m_totals;
    if (m_stalled)
        totals.stalledMs += std::max<qint64>(0, m_staleSince->msecsTo(now));
    return totals;
}

QString stalledSinceText(const QDateTime &since)
{
    return QStringLiteral("Stalled since %1").arg(since.toString(QStringLiteral("HH:mm:ss")));
}

QString stallReloadText()
{
    return QStringLiteral("Reloading the page");
}

QString stallEndedText(qint64 ms)
{
    return QStringLiteral("Stall ended after %1").arg(lengthText(ms));
}

QString skippedText(qint64 skipped)
{
    return QStringLiteral("%1 skipped").arg(skipped);
}

QString runSummaryText(const FrameTotals &t)
{
    QString stalls;
    if (t.stalls == 0)
        stalls = QStringLiteral("no stall");
    else if (t.stalls == 1)
        stalls = QStringLiteral("1 stall lasting %1").arg(lengthText(t.stalledMs));
    else
        stalls = QStringLiteral("%1 stalls lasting %2 in all")
                     .arg(t.stalls)
                     .arg(lengthText(t.stalledMs));
    QString text = QStringLiteral("Run ended: %1 written, %2 skipped, %3 failed, %4")
                       .arg(t.written)
                       .arg(t.skipped)
                       .arg(t.failed)
                       .arg(stalls);
    if (t.replaced > 0)
        text += QStringLiteral(", %1 replaced").arg(t.replaced);
    return text;
}

} // namespace framelog
