// Resting: the page hidden between pictures, woken before each.
#include "browse/web_engine_browser.h"

#include <QQuickWidget>
#include <QQuickWindow>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <algorithm>

namespace framelog {

namespace {

// Runs before the page's own scripts, in every frame: the document always
// reads as visible and no visibilitychange reaches the page, so a player
// that stops when its page is hidden plays on. The engine still slows the
// hidden page's timers and draws nothing of it, which is what resting saves.
// Capture listeners on window run before any listener on the document.
const char kSeesItselfVisible[] = R"JS(
(() => {
  const proto = Document.prototype;
  const fixed = (name, value) => {
    try { Object.defineProperty(proto, name, {configurable: true, get: () => value}); } catch (e) {}
  };
  fixed('hidden', false);
  fixed('visibilityState', 'visible');
  fixed('webkitHidden', false);
  fixed('webkitVisibilityState', 'visible');
  for (const type of ['visibilitychange', 'webkitvisibilitychange'])
    window.addEventListener(type, (event) => event.stopImmediatePropagation(), true);
})();
)JS";

QQuickWindow *quickWindowOf(QWebEngineView *view)
{
    auto *quick = view ? qobject_cast<QQuickWidget *>(view->focusProxy()) : nullptr;
    return quick ? quick->quickWindow() : nullptr;
}

} // namespace

void WebEngineBrowser::allowRest()
{
    if (std::exchange(m_restAllowed, true))
        return;
    QWebEngineScript script;
    script.setName(QStringLiteral("framelog-sees-itself-visible"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(QString::fromUtf8(kSeesItselfVisible));
    m_view->page()->scripts().insert(script);
}

void WebEngineBrowser::setResting(bool resting)
{
    if (resting == m_resting)
        return;
    m_resting = resting;
    const quint64 wake = ++m_wake;
    disconnect(m_awakeRendered);
    m_view->page()->setVisible(!resting);
    if (resting)
        return;
    // As after a load: two animation frames of the page (which a hidden
    // page does not run), then one render of the widget's scene.
    m_view->page()->runJavaScript(
        QStringLiteral("window.framelogAwake = false;"
                       "requestAnimationFrame(() => requestAnimationFrame(() => {"
                       "  window.framelogAwake = true; }))"),
        QWebEngineScript::ApplicationWorld);
    pollAwake(wake, 0);
}

void WebEngineBrowser::pollAwake(quint64 wake, int polls)
{
    const QPointer<WebEngineBrowser> self(this);
    m_view->page()->runJavaScript(
        QStringLiteral("window.framelogAwake === true"), QWebEngineScript::ApplicationWorld,
        [self, wake, polls](const QVariant &awake) {
            if (!self || wake != self->m_wake)
                return;
            if (awake.toBool()) {
                self->renderThenAwake(wake);
                return;
            }
            // A document that went meanwhile lost the flag: polls thin out.
            const int delay = polls < 40 ? 5 : std::min(5 << std::min(polls - 39, 8), 1000);
            QTimer::singleShot(delay, self, [self, wake, polls] {
                if (self && wake == self->m_wake)
                    self->pollAwake(wake, polls + 1);
            });
        });
}

void WebEngineBrowser::renderThenAwake(quint64 wake)
{
    const auto report = [this, wake] {
        if (wake == m_wake && !m_resting)
            emit PageAwake();
    };
    QQuickWindow *window = quickWindowOf(m_view);
    if (!window) {
        report();
        return;
    }
    disconnect(m_awakeRendered);
    m_awakeRendered = connect(
        window, &QQuickWindow::afterRendering, this,
        [this, report] {
            disconnect(m_awakeRendered);
            QMetaObject::invokeMethod(this, report, Qt::QueuedConnection);
        },
        Qt::DirectConnection);
    window->update();
}

void WebEngineBrowser::setFrameSignals(bool on)
{
    disconnect(m_frames);
    QQuickWindow *window = on ? quickWindowOf(m_view) : nullptr;
    if (!window)
        return;
    // The widget shows a frame once afterRendering has returned.
    m_frames = connect(
        window, &QQuickWindow::afterRendering, this,
        [this] {
            QMetaObject::invokeMethod(
                this, [this] { emit FrameDrawn(); }, Qt::QueuedConnection);
        },
        Qt::DirectConnection);
}

} // namespace framelog
