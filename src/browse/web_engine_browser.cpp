#include "browse/web_engine_browser.h"

#include "browse/offline_switch.h"
#include "browse/page_sockets.h"
#include "browse/web_engine_profiles.h"
#include "browse/webrtc_guard.h"
#include "core/secrets.h"
#include "ui/window_title.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWidget>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <QWindow>

#include <algorithm>

#include <unistd.h>

// The start page lives in the static library's resources, which a static
// link does not register by itself.
static void initFramelogResources()
{
    Q_INIT_RESOURCE(framelog);
}

namespace framelog {

namespace {

// A popup that asks for no size gets this much room for its page.
const QSize kDefaultPopupSize(640, 480);

bool isHttp(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https";
}

QString jsString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

} // namespace

namespace {

// What no page makes (a service worker's fetches) meets only the offline
// rule; each page's own interceptor sees the rest.
class OfflineRules : public QWebEngineUrlRequestInterceptor {
public:
    OfflineRules(WebEngineBrowser *owner, QObject *profile)
        : QWebEngineUrlRequestInterceptor(profile)
    {
        addOwner(owner);
    }
    void addOwner(WebEngineBrowser *owner) { m_owners.append(owner); }
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        // A shared profile's service workers serve every control of it: one
        // control offline keeps them off the network. A control's probe
        // must reach the closed gate whatever the others say.
        const QUrl url = info.requestUrl();
        bool refused = false;
        for (const auto &owner : std::as_const(m_owners)) {
            if (!owner)
                continue;
            if (owner->isOfflineProbe(url))
                return;
            refused = refused || owner->refusesWhileOffline(url);
        }
        if (refused)
            info.block(true);
    }

private:
    QList<QPointer<WebEngineBrowser>> m_owners;
};

} // namespace

class WebEngineBrowser::Page : public QWebEnginePage {
public:
    Page(QWebEngineProfile *profile, WebEngineBrowser *owner, QObject *parent)
        : QWebEnginePage(profile, parent), m_owner(owner)
    {
        // Chromium's popup blocker then applies: only a user's gesture opens
        // a window.
        settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        setUrlRequestInterceptor(new Rules(this));
        guardWebRtc(offline());
        if (m_owner) {
            connect(this, &QWebEnginePage::newWindowRequested, m_owner,
                    [this](QWebEngineNewWindowRequest &request) {
                        if (m_owner)
                            m_owner->openPopup(request);
                    });
        }
    }

    bool offline() const { return m_owner && m_owner->Offline(); }

    // Replaces the engine's error page for `url` by ours; `done` learns
    // whether it did (not when another document came first).
    void showOfflinePage(const QUrl &url, const std::function<void(bool)> &done)
    {
        const QString html =
            QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                           "<style>body{font-family:sans-serif;margin:2em}</style></head>"
                           "<body><h1>%1</h1><p>%2 is not available offline.</p></body></html>")
                .arg(offlineTitle(), url.toDisplayString().toHtmlEscaped());
        // Only into the error page: the user may have gone elsewhere already.
        const QString script =
            QStringLiteral("(function(){if(location.protocol!=='chrome-error:')return false;"
                           "document.open();document.write(%1);document.close();return true;})()")
                .arg(jsString(html));
        runJavaScript(script, [done](const QVariant &shown) { done(shown.toBool()); });
    }

    static QString offlineTitle() { return QStringLiteral("Not available offline"); }

    // The page's WebRTC for documents to come, and for the one shown.
    void guardWebRtc(bool offline)
    {
        const QString name = QStringLiteral("framelog-webrtc-guard");
        for (const QWebEngineScript &old : scripts().find(name))
            scripts().remove(old);
        QWebEngineScript guard;
        guard.setName(name);
        guard.setWorldId(QWebEngineScript::MainWorld);
        guard.setInjectionPoint(QWebEngineScript::DocumentCreation);
        guard.setRunsOnSubFrames(true);
        guard.setSourceCode(webRtcGuardScript(offline));
        scripts().insert(guard);
        runJavaScript(webRtcGuardSwitch(offline), QWebEngineScript::ApplicationWorld);
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        // Offline a web page's reload can only end in an error page; the page
        // stays as it is. A page's own reload (location.reload(), a refresh
        // to the same address) comes as a redirect. Local pages still reload.
        if (offline() && isMainFrame && isHttp(url) &&
            (type == NavigationTypeReload ||
             (type == NavigationTypeRedirect && url == this->url())))
            return false;
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }

private:
    class Rules : public QWebEngineUrlRequestInterceptor {
    public:
        explicit Rules(Page *page) : QWebEngineUrlRequestInterceptor(page), m_page(page) {}
        void interceptRequest(QWebEngineUrlRequestInfo &info) override
        {
            const QUrl url = info.requestUrl();
            // Files follow Chromium's own rules: a file page's pictures,
            // frames and scripts load from any folder (Qt lets them, or
            // nothing at all), and a script reads no file (Qt would let it).
            const bool scriptReadsFile =
                url.isLocalFile() &&
                info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeXhr;
            if (scriptReadsFile || (m_page->m_owner && m_page->m_owner->refusesWhileOffline(url)))
                info.block(true);
        }

    private:
        Page *m_page;
    };

    QPointer<WebEngineBrowser> m_owner;
};

// A popup: the page with its address above it, in a window of its own.
class WebEngineBrowser::PopupWindow : public QWidget {
public:
    PopupWindow(QWebEngineProfile *profile, WebEngineBrowser *owner)
    {
        setObjectName(QStringLiteral("PopupWindow"));
        setAttribute(Qt::WA_DeleteOnClose);
        m_address = new QLineEdit(this);
        m_address->setObjectName(QStringLiteral("PopupAddress"));
        m_address->setReadOnly(true);
        m_address->setAccessibleName(tr("Address"));
        m_view = new QWebEngineView(this);
        m_view->setObjectName(QStringLiteral("PopupPage"));
        m_view->setAccessibleName(tr("Web page"));
        m_page = new Page(profile, owner, m_view);
        m_view->setPage(m_page);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(m_address);
        layout->addWidget(m_view, 1);

        connect(m_page, &QWebEnginePage::urlChanged, this, [this] { showPage(); });
        connect(m_page, &QWebEnginePage::titleChanged, this, [this] { showPage(); });
        connect(m_page, &QWebEnginePage::windowCloseRequested, this, &QWidget::close);
        connect(m_page, &QWebEnginePage::geometryChangeRequested, this,
                [this](const QRect &geometry) { place(geometry); });
        connect(m_page, &QWebEnginePage::loadingChanged, this,
                [this](const QWebEngineLoadingInfo &info) {
                    if (m_page->offline() &&
                        info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
                        info.isErrorPage() && isHttp(info.url()))
                        m_page->showOfflinePage(info.url(), [](bool) {});
                });
        showPage();
    }

    Page *page() const { return m_page; }

    // The page's area at `requested` (screen coordinates; a null position
    // leaves the place to the screen's middle), the window with its frame
    // kept on the screen.
    void place(const QRect &requested)
    {
        const QSize pageSize = requested.size().isEmpty() ? kDefaultPopupSize : requested.size();
        const QSize size(pageSize.width(), pageSize.height() + m_address->sizeHint().height());
        // Known once the native window exists (at once off screen, after the
        // window manager has framed it on X11).
        const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
        const QSize outer = size.grownBy(frame);
        QScreen *screen = requested.topLeft().isNull()
                              ? this->screen()
                              : QGuiApplication::screenAt(requested.topLeft());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        const QRect available = screen ? screen->availableGeometry() : QRect();
        QPoint at = requested.topLeft();
        if (at.isNull())
            at = available.isEmpty()
                     ? pos()
                     : available.center() - QPoint(outer.width() / 2, outer.height() / 2);
        const QRect placed = keepOnScreen(QRect(at, outer), available);
        resize(placed.size().shrunkBy(frame));
        move(placed.topLeft()); // a window's position is its frame's
    }

private:
    void showPage()
    {
        const QUrl url = m_page->url();
        m_address->setText(url.toDisplayString());
        const QString title = m_page->title();
        setShownWindowTitle(this, title.isEmpty() ? url.toDisplayString() : title);
    }

    QLineEdit *m_address;
    QWebEngineView *m_view;
    Page *m_page;
};

bool WebEngineBrowser::prepareEnvironment()
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (geteuid() != 0)
        return false;
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    return true;
}

namespace {

DrawingPath g_drawingPath = DrawingPath::Platform;

// The GL_RENDERER text of the context the application shares with the web
// engine; empty when the platform has no usable OpenGL. The shared context
// exists already, so asking costs well under a millisecond.
QByteArray sharedContextRenderer()
{
    QOpenGLContext *shared = QOpenGLContext::globalShareContext();
    if (!shared || !shared->isValid())
        return {};
    QOffscreenSurface surface;
    surface.setFormat(shared->format());
    surface.create();
    if (!surface.isValid() || !shared->makeCurrent(&surface))
        return {};
    const auto *text =
        reinterpret_cast<const char *>(shared->functions()->glGetString(GL_RENDERER));
    const QByteArray renderer(text ? text : "");
    shared->doneCurrent();
    return renderer;
}

} // namespace

DrawingPath WebEngineBrowser::setUpDrawingPath()
{
    const bool qtBackendSet = qEnvironmentVariableIsSet("QT_QUICK_BACKEND") ||
                              qEnvironmentVariableIsSet("QMLSCENE_DEVICE") ||
                              qEnvironmentVariableIsSet("QSG_RHI_BACKEND");
    const DrawingPathChoice choice =
        chooseDrawingPath(qgetenv("FRAMELOG_RENDERING"), qtBackendSet, &sharedContextRenderer);
    if (!choice.warning.isEmpty())
        qWarning("%s", qPrintable(choice.warning));
    switch (choice.path) {
    case DrawingPath::Software:
        // Also keeps the web engine from looking for an OpenGL context that
        // is not there (its start-up warning).
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        break;
    case DrawingPath::OpenGL:
        // The backend name wins over QT_QUICK_BACKEND, the API alone does not.
        QQuickWindow::setSceneGraphBackend(QStringLiteral("rhi"));
        QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
        break;
    case DrawingPath::Platform:
        break;
    }
    g_drawingPath = choice.path;
    return choice.path;
}

QString WebEngineBrowser::drawingPath() const
{
    // The view draws through a Qt Quick widget of the engine's own.
    const auto *quick = m_view ? m_view->findChild<QQuickWidget *>() : nullptr;
    const QSGRendererInterface *renderer =
        quick ? quick->quickWindow()->rendererInterface() : nullptr;
    if (!renderer)
        return drawingPathName(g_drawingPath);
    switch (renderer->graphicsApi()) {
    case QSGRendererInterface::Software:
        return drawingPathName(DrawingPath::Software);
    case QSGRendererInterface::OpenGL:
        return drawingPathName(DrawingPath::OpenGL);
    default:
        return QStringLiteral("other");
    }
}

QUrl WebEngineBrowser::homeUrl()
{
    return QUrl(QStringLiteral("qrc:/framelog/start.html"));
}

WebEngineBrowser::WebEngineBrowser(QObject *parent) : WebEngineBrowser(QString(), parent) {}

WebEngineBrowser::WebEngineBrowser(const QString &profile, QObject *parent)
    : TBrowserControl(parent)
{
    initFramelogResources();
    page_sockets::rememberProgramSockets(); // before the first page
    m_profile = WebEngineProfiles::acquire(profile);
    // A shared profile has one set of rules, asking each of its controls.
    if (auto *rules = m_profile->findChild<OfflineRules *>())
        rules->addOwner(this);
    else
        m_profile->setUrlRequestInterceptor(new OfflineRules(this, m_profile));
    m_offlineSwitch = makeOfflineSwitch();

    m_view = new QWebEngineView;
    m_view->setObjectName(QStringLiteral("WebBrowser"));
    auto *page = new Page(m_profile, this, m_view);
    m_view->setPage(page);
    connectQuestions(page);

    connect(page, &QWebEnginePage::loadStarted, this, [this] {
        m_offlineSwitch->noteOnlineUse();
        ++m_load;
        m_offlineTitle.clear();
        m_errorText.clear();
        m_loginAnswers.clear();
        m_refusedCertificate.clear();
        m_busy = true;
        emit LoadStarted();
        emit StatusTextChange(QStringLiteral("Opening page %1...")
                                  .arg(m_view->page()->requestedUrl().toDisplayString()));
        emit ProgressChange(0, 10000);
        emit CommandStateChange(-1, true);
    });
    connect(page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                if (status == QWebEnginePage::NormalTerminationStatus)
                    return;
                m_errorText = status == QWebEnginePage::CrashedTerminationStatus
                                  ? QStringLiteral("the page's renderer crashed")
                              : status == QWebEnginePage::KilledTerminationStatus
                                  ? QStringLiteral("the page's renderer was killed")
                                  : QStringLiteral("the page's renderer ended abnormally");
                emit NavigateError(withoutPassword(m_view->url()));
            });
    connect(page, &QWebEnginePage::loadProgress, this,
            [this](int percent) { emit ProgressChange(percent * 100, 10000); });
    connect(page, &QWebEnginePage::urlChanged, this, [this] { reportCommandState(); });
    connect(page, &QWebEnginePage::linkHovered, this,
            [this](const QString &url) { emit StatusTextChange(url); });
    connect(page, &QWebEnginePage::loadingChanged, this,
            [this, page](const QWebEngineLoadingInfo &info) {
                if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
                    return;
                if (m_offline && info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
                    info.isErrorPage() && isHttp(info.url())) {
                    // The load ends once our page stands in the error page's place.
                    const quint64 load = m_load;
                    page->showOfflinePage(info.url(), [this, load, url = info.url(),
                                                       self = QPointer(this)](bool shown) {
                        if (!self || load != m_load)
                            return;
                        if (shown)
                            m_offlineTitle = Page::offlineTitle();
                        loadEnded(url);
                    });
                    return;
                }
                const bool failed = info.status() == QWebEngineLoadingInfo::LoadFailedStatus;
                m_errorText = failed ? failureText(info) : QString();
                loadEnded(failed ? info.url() : QUrl());
            });
}

WebEngineBrowser::~WebEngineBrowser()
{
    setOffline(false); // the gate is the process's
    // Pages must go before the profile they use.
    for (const auto &popup : std::as_const(m_popups))
        delete popup.data();
    delete m_view.data();
    WebEngineProfiles::release(m_profile);
}

void WebEngineBrowser::loadEnded(const QUrl &failed)
{
    m_busy = false;
    if (!failed.isEmpty())
        emit NavigateError(withoutPassword(failed));
    reportCommandState();
    emit CommandStateChange(-1, true);
    emit NavigateComplete2(withoutPassword(m_view->url()));
    emit ProgressChange(-1, 10000);
    // The status bar names a failed load until the next one starts.
    emit StatusTextChange(
        failed.isEmpty() || m_errorText.isEmpty()
            ? QStringLiteral("Done")
            : QStringLiteral("Failed to load %1: %2").arg(withoutPassword(failed), m_errorText));
    awaitDrawn(m_load);
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

void WebEngineBrowser::openPopup(QWebEngineNewWindowRequest &request)
{
    bool cancel = false;
    emit NewWindow2(cancel);
    if (cancel)
        return;
    auto *popup = new PopupWindow(m_profile, this);
    connectQuestions(popup->page());
    m_popups.append(popup);
    request.openIn(popup->page());
    popup->winId(); // the native window, for its frame
    popup->place(request.requestedGeometry());
    popup->show();
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
    // Offline a web page has nothing to load: it stays on screen.
    if (!m_offline || !isHttp(m_view->url()))
        m_view->reload();
}
void WebEngineBrowser::Stop()
{
    m_view->stop();
}

QString WebEngineBrowser::LocationName() const
{
    return m_offlineTitle.isEmpty() ? m_view->title() : m_offlineTitle;
}

void WebEngineBrowser::setOffline(bool offline)
{
    if (offline == m_offline)
        return;
    m_offline = offline;
    m_offlineSwitch->setOffline(offline);
}

OfflineState WebEngineBrowser::offlineState() const
{
    return m_offlineSwitch->state();
}

bool WebEngineBrowser::refusesWhileOffline(const QUrl &url) const
{
    return !m_offlineSwitch->isProbe(url) && refuseWhileOffline(url, m_offlineSwitch->state());
}

bool WebEngineBrowser::isOfflineProbe(const QUrl &url) const
{
    return m_offlineSwitch->isProbe(url);
}

OfflineSwitch *WebEngineBrowser::makeOfflineSwitch()
{
    OfflineSwitch::Hooks hooks;
    // The engine looks at its proxy again at a request of the profile.
    hooks.probe = [this](const QUrl &url) {
        if (m_view)
            m_view->page()->download(url);
    };
    hooks.tellPages = [this](bool offline) {
        if (m_view)
            static_cast<Page *>(m_view->page())->guardWebRtc(offline);
        for (const auto &popup : std::as_const(m_popups)) {
            if (auto *window = static_cast<PopupWindow *>(popup.data()))
                window->page()->guardWebRtc(offline);
        }
    };
    auto *offlineSwitch = new OfflineSwitch(std::move(hooks), this);
    // A probe's answer is not a download.
    connect(m_profile, &QWebEngineProfile::downloadRequested, offlineSwitch,
            [offlineSwitch](QWebEngineDownloadRequest *download) {
                if (offlineSwitch->isProbe(download->url()))
                    download->cancel();
            });
    return offlineSwitch;
}

QWidget *WebEngineBrowser::widget()
{
    return m_view;
}

} // namespace framelog
