// Work Offline with a page that holds the network, in the window's browser
// control: how long the page takes to be ready online (a WebRTC page: until
// its video plays), then the moment of the switch, for a packet capture to
// be split at.
//
// bench_browser_offline URL READY [SECONDS]
//   URL      the page (a camera's streams, a WebRTC page...)
//   READY    a script expression that is true once the page is ready
//   SECONDS  how long to stay offline before ending (default 5)
//
// Prints "ready after N ms", "offline at <epoch seconds>" and what the
// switch took. Run it beside a capture (tcpdump -w), for instance in a
// network namespace of its own with the camera across a veth pair, and
// count the packets after the switch.

#include "browse/web_engine_browser.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <QWebEnginePage>

#include <cstdio>

using namespace framelog;

int main(int argc, char *argv[])
{
    WebEngineBrowser::prepareEnvironment();
    QApplication app(argc, argv);
    WebEngineBrowser::setUpDrawingPath();
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_browser_offline URL READY [SECONDS]\n");
        return 2;
    }
    const QString url = QString::fromLocal8Bit(argv[1]);
    const QString ready = QString::fromLocal8Bit(argv[2]);
    const int offlineMs = (argc > 3 ? QByteArray(argv[3]).toInt() : 5) * 1000;

    WebEngineBrowser browser;
    browser.widget()->resize(640, 480);
    browser.widget()->show();
    QElapsedTimer clock;
    clock.start();
    browser.Navigate(url);

    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        browser.view()->page()->runJavaScript(ready, [&](const QVariant &value) {
            if (!value.toBool() || !poll.isActive())
                return;
            poll.stop();
            std::printf("ready after %lld ms\n", clock.elapsed());
            QTimer::singleShot(2000, &app, [&] {
                QElapsedTimer took;
                took.start();
                std::printf("offline at %.6f\n",
                            double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
                browser.setOffline(true);
                std::printf("setOffline took %.2f ms\n", double(took.nsecsElapsed()) / 1e6);
                std::fflush(stdout);
                QTimer::singleShot(offlineMs, &app, [&] {
                    std::printf("offline state at the end: %d\n", int(browser.offlineState()));
                    app.quit();
                });
            });
            std::fflush(stdout);
        });
    });
    poll.start();
    QTimer::singleShot(120000, &app, [&] {
        std::printf("never ready\n");
        app.exit(1);
    });
    return app.exec();
}
