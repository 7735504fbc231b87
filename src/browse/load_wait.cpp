#include "browse/load_wait.h"

#include "browse/browser_control.h"
#include "core/length_text.h"

namespace framelog {

LoadWait::LoadWait(TBrowserControl *browser, std::chrono::milliseconds limit, QObject *parent)
    : QObject(parent), m_limit(limit)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &LoadWait::timedOut);
    if (!browser)
        return;
    connect(browser, &TBrowserControl::LoadStarted, this, &LoadWait::loadStarted);
    connect(browser, &TBrowserControl::PageDrawn, this, &LoadWait::pageDrawn);
    if (browser->Busy())
        m_state = State::Loading;
}

bool LoadWait::mayCapture()
{
    switch (m_state) {
    case State::Drawn:
    case State::GaveUp:
        return true;
    case State::Loading:
        // The limit counts from the first held tick, not from the load's
        // start: a tick always gets the whole time.
        m_state = State::Waiting;
        m_merged = 0;
        m_timer.start(m_limit);
        return false;
    case State::Waiting:
        ++m_merged;
        return false;
    }
    return true;
}

void LoadWait::cancel()
{
    if (m_state != State::Waiting)
        return;
    m_timer.stop();
    m_state = State::Loading;
}

void LoadWait::loadStarted()
{
    // A load that overtakes the one waited for (a redirect, another reload)
    // is waited for within the same limit.
    if (m_state != State::Waiting)
        m_state = State::Loading;
}

void LoadWait::pageDrawn()
{
    const bool held = m_state == State::Waiting;
    m_timer.stop();
    m_state = State::Drawn;
    if (held)
        emit ready(false);
}

void LoadWait::timedOut()
{
    if (m_state != State::Waiting)
        return;
    m_state = State::GaveUp;
    emit ready(true);
}

QString loadWaitTimedOutText(std::chrono::milliseconds limit)
{
    return QStringLiteral("Page not drawn within %1, picture taken anyway")
        .arg(lengthText(limit.count()));
}

} // namespace framelog
