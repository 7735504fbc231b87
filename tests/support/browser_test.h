#pragma once

// Helpers for tests that drive the real Qt WebEngine control.

#include "app/main_form.h"
#include "browse/web_engine_browser.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace framelog::test {

// Writes small pages into a temporary folder and hands out their URLs.
class LocalPages {
public:
    QUrl write(const QString &name, const QString &html)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write test page %s", qPrintable(name));
        file.write(html.toUtf8());
        return QUrl::fromLocalFile(file.fileName());
    }
    QUrl titled(const QString &name, const QString &title, const QString &body = {})
    {
        return write(name, QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\">"
                                          "<title>%1</title></head><body>%2</body></html>")
                               .arg(title, body));
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// A red page with a blue 100 x 50 block at (10, 20): known pixels on a real
// page.
namespace blockpage {
inline constexpr char kHtml[] =
    "<!doctype html><html><head><title>Block</title><style>"
    "html,body{margin:0;background:#ff0000;overflow:hidden}"
    "#b{position:absolute;left:10px;top:20px;width:100px;height:50px;background:#0000ff}"
    "</style></head><body><div id=b></div></body></html>";
inline constexpr QRgb kRed = 0xffff0000;
inline constexpr QRgb kBlue = 0xff0000ff;
inline const QRect kBlock(10, 20, 100, 50);

// What the page shows from its top-left corner, `size` device pixels at
// `ratio` device pixels to a page pixel.
inline QImage picture(QSize size, qreal ratio = 1)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(kRed);
    const QRect block(QPoint(qRound(kBlock.left() * ratio), qRound(kBlock.top() * ratio)),
                      QPoint(qRound((kBlock.right() + 1) * ratio) - 1,
                             qRound((kBlock.bottom() + 1) * ratio) - 1));
    for (int y = block.top(); y <= block.bottom() && y < size.height(); ++y)
        for (int x = block.left(); x <= block.right() && x < size.width(); ++x)
            image.setPixel(x, y, kBlue);
    return image;
}

// Opens the page in the window's browser and waits until a capture shows it.
inline bool showIn(TMainForm &form, LocalPages &pages)
{
    form.WebBrowser->Navigate(
        pages.write(QStringLiteral("block.html"), QLatin1String(kHtml)).toString());
    const auto shown = [&] {
        if (form.WebBrowser->LocationName() != QStringLiteral("Block"))
            return false;
        const bool active = form.FSelectionActive;
        form.FSelectionActive = false;
        form.CapturePage();
        form.FSelectionActive = active;
        return form.FCaptureBitmap->pixel(50, 40) == kBlue;
    };
    // Polled as QTRY_ does: the page's frames arrive through the event loop.
    QDeadlineTimer deadline(20000);
    while (!shown()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}
} // namespace blockpage

// What keeps a run from testing what its environment asks for: a drawing
// path other than the one FRAMELOG_RENDERING forces (or than software, on the
// test's own X server, which has no GPU), or a device pixel ratio other than
// QT_SCALE_FACTOR. Empty when the view draws as asked.
inline QString unexpectedSetting(WebEngineBrowser &browser)
{
    QString path = QString::fromLatin1(qgetenv("FRAMELOG_RENDERING"));
    if (path.isEmpty() && QGuiApplication::platformName() == QStringLiteral("xcb"))
        path = QStringLiteral("software");
    if (!path.isEmpty() && browser.drawingPath() != path)
        return QStringLiteral("drawn on %1, not %2").arg(browser.drawingPath(), path);
    const qreal ratio = browser.widget()->devicePixelRatioF();
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR") &&
        ratio != qEnvironmentVariable("QT_SCALE_FACTOR").toDouble())
        return QStringLiteral("device pixel ratio %1").arg(ratio);
    return {};
}

// Navigates and waits for the load to complete.
inline bool loadIn(WebEngineBrowser &browser, const QUrl &url)
{
    QSignalSpy complete(&browser, &TBrowserControl::NavigateComplete2);
    browser.Navigate(url.toString());
    return complete.wait(20000);
}

// Runs a script in the browser's page and returns its result.
inline QVariant runIn(WebEngineBrowser &browser, const QString &script)
{
    QVariant result;
    bool done = false;
    browser.view()->page()->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 20000))
        return QStringLiteral("<no answer>");
    return result;
}

} // namespace framelog::test

// Like QTEST_MAIN, with the browser's environment prepared before the
// application exists and its drawing path chosen as the program does.
#define FRAMELOG_BROWSER_TEST_MAIN(TestObject)                                                     \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        framelog::WebEngineBrowser::prepareEnvironment();                                          \
        QApplication app(argc, argv);                                                              \
        framelog::WebEngineBrowser::setUpDrawingPath();                                            \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
