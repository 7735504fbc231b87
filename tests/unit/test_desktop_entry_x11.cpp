// The desktop ties the window to its menu entry and icon: by WM_CLASS and
// the entry's StartupWMClass on X11 (read with xprop, on an X server of the
// test's own), by the desktop file name on Wayland.
#include "form_fixture.h"
#include "x_server.h"

#include "app/application.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

using namespace framelog;
using namespace framelog::test;

namespace {

XServer *server = nullptr;
const QString kData = QStringLiteral(FRAMELOG_DATA_DIR);

// A key of the entry's [Desktop Entry] group.
QString entryValue(const QString &key)
{
    QFile file(kData + u'/' + kDesktopFileName + QStringLiteral(".desktop"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<no desktop entry>");
    const QRegularExpression line(QStringLiteral("^%1=(.*)$").arg(key));
    for (const QByteArray &text : file.readAll().split('\n'))
        if (const auto match = line.match(QString::fromUtf8(text)); match.hasMatch())
            return match.captured(1);
    return QStringLiteral("<no %1>").arg(key);
}

} // namespace

class TestDesktopEntryX11 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void windowsCarryTheEntrysClass();
};

void TestDesktopEntryX11::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
}

void TestDesktopEntryX11::windowsCarryTheEntrysClass()
{
    // The entry is data/<desktop file name>.desktop, and its icon has the name.
    QCOMPARE(QGuiApplication::desktopFileName(), kDesktopFileName);
    QCOMPARE(entryValue(QStringLiteral("Icon")), kDesktopFileName);
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    f.form->ViewPreviewTBXItem->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(f.preview.get()));
    // WM_CLASS = "<program>", "<class>"; the class is what the entry names.
    for (QWidget *window : QList<QWidget *>{f.form.get(), f.preview.get()}) {
        const QStringList wmClass = server->property(window->winId(), QStringLiteral("WM_CLASS"))
                                        .split(QStringLiteral("\", \""));
        QCOMPARE(wmClass.size(), 2);
        QCOMPARE(wmClass.last(), entryValue(QStringLiteral("StartupWMClass")));
    }
}

int main(int argc, char *argv[])
{
    return runOnXServer<TestDesktopEntryX11>(argc, argv, server, setUpApplication);
}

#include "test_desktop_entry_x11.moc"
