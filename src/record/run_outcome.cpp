#include "record/run_outcome.h"

#include "capture/locale_formats.h"
#include "capture/pattern_names.h"

#include <QLocale>

#include <algorithm>

namespace framelog {

int recordExitStatus(const RunTally &tally)
{
    if (tally.written == 0 && (tally.skipped == 0 || tally.failed > 0))
        return kExitNoneWritten;
    return tally.failed > 0 ? kExitSomeFailed : kExitAllWritten;
}

std::optional<qint64> longestRunMs(const RecordPlan &plan, const RecordJob &job)
{
    std::optional<qint64> longest = plan.forMs;
    if (plan.count) {
        const qint64 counted = *plan.count * job.recipe.everyMs;
        longest = longest ? std::min(*longest, counted) : counted;
    }
    return longest;
}

void checkSharedNames(const QList<RecordJob> &jobs)
{
    SharedNames shared(LocaleFormats::fromLocale(QLocale::system()));
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        for (qsizetype j = i + 1; j < jobs.size(); ++j) {
            const Recipe &a = jobs[i].recipe, &b = jobs[j].recipe;
            if (shared.canShare(a.pattern, b.pattern))
                throw ERecipe(QStringLiteral("recipes %1 and %2 can write the same file (patterns "
                                             "\"%3\" and \"%4\"): give each its own folder or "
                                             "name")
                                  .arg(jobs[i].name, jobs[j].name, a.pattern, b.pattern));
        }
    }
}

} // namespace framelog
