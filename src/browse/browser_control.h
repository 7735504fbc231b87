#pragma once

#include "browse/browser_questions.h"

#include <QObject>
#include <QString>

class QWidget;

namespace framelog {

// The browser as the main window sees it. The window talks only to this
// interface, so tests put a fake behind it; the program uses the Qt WebEngine
// control (web_engine_browser.h).
//
// Operations return at once; outcomes arrive as the signals below, on the
// GUI thread, with the argument conventions the window's handlers expect.
class TBrowserControl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~TBrowserControl() override = default;

    virtual void GoHome() = 0;
    virtual void Navigate(const QString &address) = 0;
    virtual void GoBack() = 0;
    virtual void GoForward() = 0;
    virtual void Refresh() = 0;
    virtual void Stop() = 0;

    // True while a navigation or download runs.
    virtual bool Busy() const = 0;
    // The current page's title.
    virtual QString LocationName() const = 0;
    // While on, no request reaches the network; local pages still load.
    virtual void setOffline(bool offline) = 0;
    virtual bool Offline() const = 0;

    // The widget that shows the page; captures grab its pixels.
    virtual QWidget *widget() = 0;

    // Why the last load of the page failed ("HTTP 401 Unauthorized",
    // "net::ERR_CONNECTION_REFUSED", "the page's renderer crashed"), with
    // no address in it; empty while loading and after a load that worked.
    virtual QString ErrorText() const { return {}; }
    // Resting, for a page pictured at long intervals: a resting page is
    // hidden (it draws nothing and its timers slow down) until it is woken,
    // and the widget keeps showing its last frame. allowRest() comes before
    // the first load: from then on the page is never told that it is
    // hidden, so that nothing of it (a player, a feed) stops for it. A
    // control that cannot rest ignores these calls.
    virtual void allowRest() {}
    virtual void setResting(bool resting) { Q_UNUSED(resting) }
    // While on, FrameDrawn comes after each new frame of the page has
    // reached the widget.
    virtual void setFrameSignals(bool on) { Q_UNUSED(on) }

signals:
    void StatusTextChange(const QString &text);
    void ProgressChange(int progress, int progressMax);
    // command: 1 forward, 2 back, -1 the set of available commands changed.
    void CommandStateChange(int command, bool enable);
    // A page asks for a new window; a handler sets cancel to refuse it.
    void NewWindow2(bool &cancel);
    // The main frame's navigation completed; LocationName is already the
    // page's title.
    void NavigateComplete2(const QString &url);
    // The main frame's navigation to `url` failed (no connection, no such
    // host, an untrusted certificate, an HTTP status of 400 or more), and
    // NavigateComplete2 follows with the error page or the server's answer;
    // or the page's renderer ended abnormally, and nothing follows.
    // ErrorText says why. Addresses in signals never carry a password.
    void NavigateError(const QString &url);
    // A login is asked for (see AuthChallenge); the handler answers before
    // it returns, typically through a modal dialog.
    void AuthenticationRequired(framelog::AuthChallenge &challenge);
    // An untrusted certificate: the handler sets `accept` to go on to the
    // page; left false, the load fails.
    void CertificateError(const framelog::CertificateFacts &facts, bool &accept);
    // A load of the main page began (a navigation, a reload, the page's own
    // refresh). Until PageDrawn follows, a capture may show the old page, a
    // half-drawn one or none.
    void LoadStarted();
    // The page of the load that finished last is drawn: a capture now shows
    // it. Comes once per finished load, never for a load that another one
    // overtook.
    void PageDrawn();
    // A new frame of the page is in the widget (setFrameSignals).
    void FrameDrawn();
    // After a wake (setResting(false)): the page has drawn since it woke,
    // so the widget shows what the page shows now. Once per wake; not when
    // the page rests again first.
    void PageAwake();
};

} // namespace framelog
