// Window titles as the window system shows them: what an X11 window manager
// reads from _NET_WM_NAME and WM_NAME, on an X server of the test's own. The
// application is set up as the program sets it up.
#include "form_fixture.h"
#include "x_server.h"

#include "app/application.h"
#include "browse/address_combo_box.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

using namespace framelog;
using namespace framelog::test;

namespace {
XServer *server = nullptr;
}

class TestWindowTitlesX11 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void titles_data();
    void titles();
    void previewHasItsOwnTitle();

private:
    // What the window system shows for `window`, both properties the same.
    bool shows(QWidget *window, const QString &title);
};

void TestWindowTitlesX11::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
}

bool TestWindowTitlesX11::shows(QWidget *window, const QString &title)
{
    const auto id = window->winId();
    const bool same = QTest::qWaitFor(
        [&] {
            return server->property(id, QStringLiteral("_NET_WM_NAME")) == title &&
                   server->property(id, QStringLiteral("WM_NAME")) == title;
        },
        10000);
    if (!same)
        qWarning("shown: _NET_WM_NAME \"%s\", WM_NAME \"%s\"; wanted \"%s\"",
                 qPrintable(server->property(id, QStringLiteral("_NET_WM_NAME"))),
                 qPrintable(server->property(id, QStringLiteral("WM_NAME"))), qPrintable(title));
    return same;
}

void TestWindowTitlesX11::titles_data()
{
    QTest::addColumn<QString>("how");  // "page" completes a page, "press" presses the bar
    QTest::addColumn<QString>("text"); // the page's name, or the address field's text
    QTest::addColumn<QString>("shown");
    QTest::newRow("page") << "page"
                          << "Example"
                          << "[Example] - Framelog";
    QTest::newRow("page named *") << "page"
                                  << "*"
                                  << "[*] - Framelog";
    QTest::newRow("page with the placeholder") << "page"
                                               << "a[*]b[*][*]"
                                               << "[a[*]b[*][*]] - Framelog";
    QTest::newRow("press: the address") << "press"
                                        << "http://cam.example/live.html"
                                        << "http://cam.example/live.html";
    QTest::newRow("press: an empty address") << "press"
                                             << ""
                                             << "";
    QTest::newRow("press: a placeholder") << "press"
                                          << "[*]"
                                          << "[*]";
}

void TestWindowTitlesX11::titles()
{
    QFETCH(QString, how);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    FormFixture f;
    TMainForm &w = *f.form;
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(shows(&w, QStringLiteral("Framelog")));
    if (how == QLatin1String("page")) {
        f.browser->locationName = text;
        emit f.browser->NavigateComplete2(QStringLiteral("http://example.com/"));
    } else {
        w.AddressComboBoxItem->setText(text);
        QTest::mouseClick(w.TBXLabelItem1, Qt::LeftButton);
    }
    QVERIFY(shows(&w, shown));
}

void TestWindowTitlesX11::previewHasItsOwnTitle()
{
    FormFixture f;
    f.form->ViewPreviewTBXItem->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(f.preview.get()));
    QVERIFY(shows(f.preview.get(), QStringLiteral("Preview")));
}

int main(int argc, char *argv[])
{
    return runOnXServer<TestWindowTitlesX11>(argc, argv, server, setUpApplication);
}

#include "test_window_titles_x11.moc"
