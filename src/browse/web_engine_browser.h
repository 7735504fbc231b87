#pragma once

#include "browse/browser_control.h"
#include "browse/drawing_path.h"

#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWebEngineView>

class QWebEngineProfile;

namespace framelog {

class OfflineInterceptor;

// The browser control on Qt WebEngine. Each control has its own in-memory
// profile, so nothing of a session is kept on disk.
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
    bool Offline() const override;
    QWidget *widget() override;

    QWebEngineView *view() const { return m_view; }
    // The popup windows opened so far and still open.
    QList<QWidget *> popupWindows() const;

private:
    class Page;
    QWebEngineView *createPopup();
    void reportCommandState();

    QWebEngineProfile *m_profile = nullptr;
    OfflineInterceptor *m_interceptor = nullptr;
    QPointer<QWebEngineView> m_view;
    QList<QPointer<QWebEngineView>> m_popups;
    bool m_busy = false;
};

} // namespace framelog
