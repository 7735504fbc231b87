#include "browse/web_engine_browser.h"

#include <QCoreApplication>
#include <QDir>
#include <QQuickWidget>
#include <QQuickWindow>
#include <QTimer>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <algorithm>

#include <unistd.h>

// The start page lives in the static library's resources, which a static
// link does not register by itself.
static void initFramelogResources()
{
    Q_INIT_RESOURCE(framelog);
}

namespace framelog {

// Blocks every request that would leave the machine while offline is on;
// file, qrc and data pages still load.
class OfflineInterceptor : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (!offline)
            return;
        const QString scheme = info.requestUrl().scheme().toLower();
        if (scheme == u"http" || scheme == u"https" || scheme == u"ws" || scheme == u"wss")
            info.block(true);
    }
    bool offline = false;
};

class WebEngineBrowser::Page : public QWebEnginePage {
public:
    Page(QWebEngineProfile *profile, WebEngineBrowser *owner, QObject *parent)
        : QWebEnginePage(profile, parent), m_owner(owner)
    {
        settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    }

protected:
    QWebEnginePage *createWindow(WebWindowType) override
    {
        if (!m_owner)
            return nullptr;
        bool cancel = false;
        emit m_owner->NewWindow2(cancel);
        if (cancel)
            return nullptr;
        return m_owner->createPopup()->page();
    }

private:
    QPointer<WebEngineBrowser> m_owner;
};

void WebEngineBrowser::prepareEnvironment()
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

QUrl WebEngineBrowser::homeUrl()
{
    return QUrl(QStringLiteral("qrc:/framelog/start.html"));
}

WebEngineBrowser::WebEngineBrowser(QObject *parent) : TBrowserControl(parent)
{
    initFramelogResources();
    m_profile = new QWebEngineProfile(this); // off the record: nothing on disk
    m_interceptor = new OfflineInterceptor(this);
    m_profile->setUrlRequestInterceptor(m_interceptor);

    m_view = new QWebEngineView;
    m_view->setObjectName(QStringLiteral("WebBrowser"));
    auto *page = new Page(m_profile, this, m_view);
    m_view->setPage(page);

    connect(page, &QWebEnginePage::loadStarted, this, [this] {
        m_busy = true;
        emit StatusTextChange(QStringLiteral("Opening page %1...")
                                  .arg(m_view->page()->requestedUrl().toDisplayString()));
        emit ProgressChange(0, 10000);
        emit CommandStateChange(-1, true);
    });
    connect(page, &QWebEnginePage::loadProgress, this,
            [this](int percent) { emit ProgressChange(percent * 100, 10000); });
    connect(page, &QWebEnginePage::urlChanged, this, [this] { reportCommandState(); });
    connect(page, &QWebEnginePage::linkHovered, this,
            [this](const QString &url) { emit StatusTextChange(url); });
    connect(page, &QWebEnginePage::loadFinished, this, [this](bool) {
        m_busy = false;
        reportCommandState();
        emit CommandStateChange(-1, true);
        emit NavigateComplete2(m_view->url().toString());
        emit ProgressChange(-1, 10000);
        emit StatusTextChange(QStringLiteral("Done"));
    });
    connect(page, &QWebEnginePage::loadStarted, this, [this] {
        ++m_load;
        emit LoadStarted();
    });
    connect(page, &QWebEnginePage::loadFinished, this, [this] { awaitDrawn(m_load); });
}

WebEngineBrowser::~WebEngineBrowser()
{
    // Pages must go before the profile they use.
    for (const auto &popup : std::as_const(m_popups))
        delete popup.data();
    delete m_view.data();
}

void WebEngineBrowser::reportCommandState()
{
    QWebEngineHistory *history = m_view->history();
    emit CommandStateChange(1, history->canGoForward());
    emit CommandStateChange(2, history->canGoBack());
}

// When loadFinished comes, the page's new frames have not reached the widget
// yet: a grab then showed the old page in 73 and 74 of 80 reloads (two
// rounds over four kinds of page), after the first render that followed in
// 13 and 18, after two animation frames of the page in 3 and 6. Two
// animation frames, then one render of the widget's scene: in none of 80,
// about 30 ms after loadFinished.
// The animation frames are asked for in a world of our own, out of the
// page's sight.
void WebEngineBrowser::awaitDrawn(quint64 load)
{
    m_view->page()->runJavaScript(
        QStringLiteral("window.framelogDrawn = false;"
                       "requestAnimationFrame(() => requestAnimationFrame(() => {"
                       "  window.framelogDrawn = true; }))"),
        QWebEngineScript::ApplicationWorld);
    pollDrawn(load, 0);
}

void WebEngineBrowser::pollDrawn(quint64 load, int polls)
{
    const QPointer<WebEngineBrowser> self(this);
    m_view->page()->runJavaScript(
        QStringLiteral("window.framelogDrawn === true"), QWebEngineScript::ApplicationWorld,
        [self, load, polls](const QVariant &drawn) {
            if (!self || load != self->m_load)
                return;
            if (drawn.toBool()) {
                self->renderThenReport(load);
                return;
            }
            // A hidden page draws no frames: after the first 50 ms the polls
            // thin out to one a second.
            const int delay = polls < 10 ? 5 : std::min(5 << std::min(polls - 9, 8), 1000);
            QTimer::singleShot(delay, self, [self, load, polls] {
                if (self)
                    self->pollDrawn(load, polls + 1);
            });
        });
}

void WebEngineBrowser::renderThenReport(quint64 load)
{
    const auto report = [this, load] {
        if (load == m_load)
            emit PageDrawn();
    };
    auto *quick = qobject_cast<QQuickWidget *>(m_view->focusProxy());
    QQuickWindow *window = quick ? quick->quickWindow() : nullptr;
    if (!window) {
        report();
        return;
    }
    // The render is done when afterRendering comes; the widget shows it only
    // after that signal has returned.
    disconnect(m_rendered);
    m_rendered = connect(
        window, &QQuickWindow::afterRendering, this,
        [this, report] {
            disconnect(m_rendered);
            QMetaObject::invokeMethod(this, report, Qt::QueuedConnection);
        },
        Qt::DirectConnection);
    window->update();
}

QWebEngineView *WebEngineBrowser::createPopup()
{
    auto *popup = new QWebEngineView;
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setPage(new Page(m_profile, nullptr, popup));
    popup->resize(640, 480);
    m_popups.append(popup);
    connect(popup->page(), &QWebEnginePage::titleChanged, popup,
            [popup](const QString &title) { popup->setWindowTitle(title); });
    connect(popup->page(), &QWebEnginePage::windowCloseRequested, popup, &QWidget::close);
    popup->show();
    return popup;
}

QList<QWidget *> WebEngineBrowser::popupWindows() const
{
    QList<QWidget *> open;
    for (const auto &popup : m_popups)
        if (popup)
            open.append(popup.data());
    return open;
}

void WebEngineBrowser::GoHome()
{
    m_view->load(homeUrl());
}

void WebEngineBrowser::Navigate(const QString &address)
{
    // Like a browser's address bar: a bare host gets http, an existing path a
    // file URL; anything else is left to the engine.
    m_view->load(QUrl::fromUserInput(address, QDir::currentPath()));
}

void WebEngineBrowser::GoBack()
{
    m_view->back();
}
void WebEngineBrowser::GoForward()
{
    m_view->forward();
}
void WebEngineBrowser::Refresh()
{
    m_view->reload();
}
void WebEngineBrowser::Stop()
{
    m_view->stop();
}

QString WebEngineBrowser::LocationName() const
{
    return m_view->title();
}

void WebEngineBrowser::setOffline(bool offline)
{
    m_interceptor->offline = offline;
}
bool WebEngineBrowser::Offline() const
{
    return m_interceptor->offline;
}

QWidget *WebEngineBrowser::widget()
{
    return m_view;
}

} // namespace framelog
