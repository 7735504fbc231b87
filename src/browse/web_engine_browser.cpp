#include "browse/web_engine_browser.h"

#include <QCoreApplication>
#include <QDir>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWidget>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

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
    connect(page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                if (status != QWebEnginePage::NormalTerminationStatus)
                    emit NavigateError(m_view->url().toString());
            });
    connect(page, &QWebEnginePage::loadProgress, this,
            [this](int percent) { emit ProgressChange(percent * 100, 10000); });
    connect(page, &QWebEnginePage::urlChanged, this, [this] { reportCommandState(); });
    connect(page, &QWebEnginePage::linkHovered, this,
            [this](const QString &url) { emit StatusTextChange(url); });
    connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        m_busy = false;
        if (!ok)
            emit NavigateError(m_view->page()->requestedUrl().toString());
        reportCommandState();
        emit CommandStateChange(-1, true);
        emit NavigateComplete2(m_view->url().toString());
        emit ProgressChange(-1, 10000);
        emit StatusTextChange(QStringLiteral("Done"));
    });
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
