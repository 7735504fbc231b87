#pragma once

#include "browse/browser_control.h"

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
    // run as root, and WebEngine needs shared GL contexts.
    static void prepareEnvironment();

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
    void awaitDrawn(quint64 load);
    void pollDrawn(quint64 load, int polls);
    void renderThenReport(quint64 load);

    QWebEngineProfile *m_profile = nullptr;
    OfflineInterceptor *m_interceptor = nullptr;
    QPointer<QWebEngineView> m_view;
    QList<QPointer<QWebEngineView>> m_popups;
    bool m_busy = false;
    quint64 m_load = 0; // the latest load's number: an overtaken load reports nothing
    QMetaObject::Connection m_rendered;
};

} // namespace framelog
