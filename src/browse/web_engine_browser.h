#pragma once

#include "browse/browser_control.h"
#include "browse/drawing_path.h"
#include "browse/request_rules.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWebEngineView>

class QAuthenticator;
class QWebEngineCertificateError;
class QWebEngineLoadingInfo;
class QWebEngineNewWindowRequest;
class QWebEngineProfile;

namespace framelog {

class OfflineSwitch;

// The browser control on Qt WebEngine. A control made without a profile
// name has its own in-memory profile, so nothing of a session is kept on
// disk; a named profile keeps cookies, storage and cache in its folder and
// is shared with the other controls of the process that name it
// (web_engine_profiles.h).
//
// Logins and certificates: the engine's questions reach the handlers of
// AuthenticationRequired and CertificateError, the main page's and its
// popups' alike. A login asked again within one load counts the answer
// before as refused. A certificate question waits (deferred) for the
// handler, which runs from the event loop, not inside the engine's call.
//
// Offline (offline_switch.h): nothing of the pages reaches the network, open
// connections and WebRTC included. Back, Forward and typed addresses load
// what the engine's memory cache holds once the engine sends its requests
// to the closed offline gate, and a page it cannot answer is replaced by a
// short page of ours saying so; a reload (Refresh, or one the page makes)
// is not made at all, so the page on screen stays. Online the pages reach
// the network as in Chromium itself.
//
// Local files follow Chromium's own rules.
//
// Popups: a page may open a window as Chromium's popup blocker allows a
// normal browser (a user's gesture); NewWindow2 then decides. An allowed
// popup is a small browser window of its own (address, title, the size the
// page asked for, kept on screen) whose own popups go the same way; it lives
// until it is closed or the control goes.
//
// Resting (web_engine_browser_rest.cpp): QWebEnginePage::setVisible hides
// the page while the view stays shown; the page's own scripts are made to
// see it visible throughout.
class WebEngineBrowser : public TBrowserControl {
    Q_OBJECT
public:
    // Must run before the QApplication exists: Chromium's sandbox refuses to
    // run as root, and WebEngine needs shared GL contexts. Returns true when
    // the process runs as root and the sandbox is therefore off.
    static bool prepareEnvironment();

    // Must run after the QApplication exists and before the first browser:
    // picks how every view is drawn from FRAMELOG_RENDERING and the
    // platform's OpenGL (see drawing_path.h), so that a machine without a
    // GPU draws in software and no context is set up for nothing.
    static DrawingPath setUpDrawingPath();

    // The path this control's view is drawn on, as Qt Quick reports it once
    // the view exists ("software", "opengl"), else the one chosen at start.
    QString drawingPath() const;

    static QUrl homeUrl();

    explicit WebEngineBrowser(QObject *parent = nullptr);
    // With profile `profile` ("none" or empty: off the record). Throws
    // EProfile when another process holds it.
    explicit WebEngineBrowser(const QString &profile, QObject *parent = nullptr);
    ~WebEngineBrowser() override;

    void GoHome() override;
    void Navigate(const QString &address) override;
    void GoBack() override;
    void GoForward() override;
    void Refresh() override;
    void Stop() override;
    bool Busy() const override { return m_busy; }
    QString LocationName() const override;
    void setOffline(bool offline) override;
    bool Offline() const override { return m_offline; }
    QWidget *widget() override;
    QString ErrorText() const override { return m_errorText; }
    void allowRest() override;
    void setResting(bool resting) override;
    void setFrameSignals(bool on) override;

    QWebEngineView *view() const { return m_view; }
    // The popup windows opened so far and still open.
    QList<QWidget *> popupWindows() const;
    OfflineState offlineState() const;
    // Whether the pages' interceptors refuse a request for `url` now.
    bool refusesWhileOffline(const QUrl &url) const;
    // Whether `url` is this control's offline probe (offline_switch.h).
    bool isOfflineProbe(const QUrl &url) const;

    class Page;

private:
    class PopupWindow;
    void openPopup(QWebEngineNewWindowRequest &request);
    OfflineSwitch *makeOfflineSwitch();
    // A load ended; `failed` is its address when it failed (reported first
    // as NavigateError), empty otherwise.
    void loadEnded(const QUrl &failed);
    void reportCommandState();
    void awaitDrawn(quint64 load);
    void pollDrawn(quint64 load, int polls);
    void renderThenReport(quint64 load);
    // The engine's questions (web_engine_browser_questions.cpp).
    void connectQuestions(QWebEnginePage *page);
    void askLogin(const QUrl &url, QAuthenticator *authenticator, const QString &proxyHost);
    void askCertificate(const QWebEngineCertificateError &error);
    // Why the load that just failed failed, from the engine's report.
    QString failureText(const QWebEngineLoadingInfo &info) const;
    void pollAwake(quint64 wake, int polls);
    void renderThenAwake(quint64 wake);

    QWebEngineProfile *m_profile = nullptr;
    OfflineSwitch *m_offlineSwitch = nullptr;
    QPointer<QWebEngineView> m_view;
    QList<QPointer<QWidget>> m_popups;
    bool m_busy = false;
    bool m_offline = false;
    // Counts the loads started, so an answer that comes late is known.
    quint64 m_load = 0;
    // The title of our own offline page while it is shown.
    QString m_offlineTitle;
    QMetaObject::Connection m_rendered;
    // Why the last load failed; empty while loading and after success.
    QString m_errorText;
    // Answers given to each login challenge since the page began loading.
    QHash<QString, int> m_loginAnswers;
    // The last certificate refused, for the failure it causes.
    QString m_refusedCertificate;
    // Resting: counts the wakes, so that an answer that comes late is known.
    bool m_restAllowed = false;
    bool m_resting = false;
    quint64 m_wake = 0;
    QMetaObject::Connection m_awakeRendered;
    QMetaObject::Connection m_frames;
};

} // namespace framelog
