#include "capture/capture_session.h"

#include "core/error_guard.h"

#include <cstdio>

namespace framelog {

QString runLogLine(const QDateTime &when, const QString &source, const QString &what, qint64 ms)
{
    QString flat = what;
    flat.replace(u'\r', u' ').replace(u'\n', u' ');
    // With its offset, so that the hour the clocks go back reads twice apart.
    const QDateTime stamped = when.toOffsetFromUtc(when.offsetFromUtc());
    return QStringLiteral("%1 %2 %3 (%4 ms)")
        .arg(stamped.toString(Qt::ISODateWithMs), source, flat)
        .arg(ms);
}

QString tickLogText(const TickResult &result, std::optional<qint32> replaces)
{
    const QString number = QStringLiteral("#%1 ").arg(result.number);
    switch (result.fate) {
    case TickResult::Fate::Written:
        if (replaces)
            return number + result.fileName + QStringLiteral(", replacing #%1").arg(*replaces);
        return number + result.fileName;
    case TickResult::Fate::Skipped:
        return number + QStringLiteral("skipped, exists: ") + result.fileName;
    case TickResult::Fate::Failed:
        break;
    }
    return number + QStringLiteral("failed: ") + result.error;
}

CaptureSession::CaptureSession(FrontEnd frontEnd, QObject *parent, int ceiling)
    : QObject(parent), m_frontEnd(std::move(frontEnd)), m_writer([this] { wakeUp(); }, ceiling)
{
}

void CaptureSession::wakeUp()
{
    // One delivery on its way is enough: it takes all there is.
    if (!m_wakePosted.exchange(true))
        QMetaObject::invokeMethod(
            this, [this] { guarded([this] { deliver(); }); }, Qt::QueuedConnection);
}

CaptureSession::~CaptureSession()
{
    // Nobody is left to tell: the pictures in flight are finished, or
    // dropped once quitting has waited long enough.
    if (!m_writer.waitIdle(QDeadlineTimer(kQuitWaitMs)))
        m_writer.abandonWaiting(runEndedFirstText());
}

void CaptureSession::tick()
{
    QElapsedTimer since;
    since.start();
    if (m_frontEnd.judge) {
        // The picture is judged before it takes a number.
        QImage picture;
        try {
            picture = m_frontEnd.grab();
        } catch (...) {
            const QString error = currentExceptionMessage();
            const qint32 number = m_run.advance();
            m_frontEnd.numbered(number);
            fail(number, QString(), error, since);
            return;
        }
        if (!m_frontEnd.judge(picture))
            return;
        const qint32 number = m_run.advance();
        m_frontEnd.numbered(number);
        submit(number, std::move(picture), since);
        return;
    }

    const qint32 number = m_run.advance();
    m_frontEnd.numbered(number);
    QImage picture;
    try {
        picture = m_frontEnd.grab();
    } catch (...) {
        fail(number, QString(), currentExceptionMessage(), since);
        return;
    }
    submit(number, std::move(picture), since);
}

void CaptureSession::submit(qint32 number, QImage picture, const QElapsedTimer &since)
{
    QString fileName;
    try {
        fileName = m_frontEnd.name();
        // A 0-byte file under a picture's name would pass for a picture.
        if (picture.width() == 0 || picture.height() == 0)
            throw EEmptyPicture();
        const bool overwrite = m_frontEnd.overwrite();
        const quint64 id = m_writer.submit(std::move(picture), fileName, overwrite, since);
        m_tickets.push_back(Ticket{id, number, fileName, std::nullopt});
    } catch (...) {
        fail(number, fileName, currentExceptionMessage(), since);
    }
}

void CaptureSession::fail(qint32 number, const QString &fileName, const QString &error,
                          const QElapsedTimer &since)
{
    m_tickets.push_back(
        Ticket{0, number, fileName,
               TickResult{number, fileName, TickResult::Fate::Failed, error, since.elapsed(), 0}});
    deliver();
}

void CaptureSession::collect(std::vector<WriteResult> results)
{
    for (WriteResult &r : results) {
        for (Ticket &ticket : m_tickets) {
            if (ticket.id == r.id) {
                ticket.result = TickResult{
                    ticket.number, ticket.fileName, r.fate, std::move(r.error), r.ms, r.writeMs};
                break;
            }
        }
    }
}

void CaptureSession::deliver()
{
    m_wakePosted = false;
    collect(m_writer.take());
    // Each result leaves the queue before it is reported: a report may run
    // a modal loop (the error box), in which later ones are delivered.
    while (!m_tickets.empty() && m_tickets.front().result) {
        const TickResult result = std::move(*m_tickets.front().result);
        m_tickets.pop_front();
        if (result.fate == TickResult::Fate::Failed)
            m_failures.record(result.error);
        // In tick order, so "earlier" is the order the files were written.
        std::optional<qint32> replaces;
        if (m_names && result.fate == TickResult::Fate::Written) {
            replaces = m_names->written(result.fileName, result.number);
            m_replaced += replaces ? 1 : 0;
        }
        writeLog(result, replaces);
        if (m_frontEnd.done)
            m_frontEnd.done(result);
    }
}

void CaptureSession::writeLog(const TickResult &result, std::optional<qint32> replaces)
{
    const QString line =
        runLogLine(m_run.clock(), logName, tickLogText(result, replaces), result.ms);
    if (log) {
        log(result, line);
    } else if (result.fate == TickResult::Fate::Failed) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(line));
        std::fflush(stderr);
    }
}

bool CaptureSession::finishPictures(QDeadlineTimer deadline)
{
    const bool all = m_writer.waitIdle(deadline);
    if (!all) {
        m_writer.abandonWaiting(runEndedFirstText());
        m_writer.waitIdle(QDeadlineTimer(QDeadlineTimer::Forever));
    }
    deliver();
    return all;
}

void CaptureSession::startRun()
{
    finishPictures(QDeadlineTimer(kQuitWaitMs));
    m_failures.reset();
    if (m_names)
        m_names->clear();
    m_replaced = 0;
}

void CaptureSession::rememberNames(bool on)
{
    if (on && !m_names)
        m_names.emplace();
    else if (!on)
        m_names.reset();
}

} // namespace framelog
