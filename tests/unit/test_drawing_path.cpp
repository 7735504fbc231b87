// Choosing how the browser view is drawn from what the platform reports.
#include "browse/drawing_path.h"

#include <QTest>

using namespace framelog;

Q_DECLARE_METATYPE(framelog::DrawingPath)

class TestDrawingPath : public QObject {
    Q_OBJECT
private slots:
    void choice_data();
    void choice();
    void softwareRenderers_data();
    void softwareRenderers();
};

void TestDrawingPath::choice_data()
{
    QTest::addColumn<QByteArray>("wish");
    QTest::addColumn<bool>("qtBackendSet");
    QTest::addColumn<QByteArray>("renderer");
    QTest::addColumn<DrawingPath>("path");
    QTest::addColumn<bool>("warns");
    QTest::addColumn<bool>("asksRenderer");

    const QByteArray gpu = "AMD Radeon RX 6600 (radeonsi, navi23, LLVM 15.0.6, DRM 3.49)";
    const QByteArray llvmpipe = "llvmpipe (LLVM 15.0.6, 256 bits)";
    using P = DrawingPath;
    QTest::newRow("gpu") << QByteArray() << false << gpu << P::OpenGL << false << true;
    QTest::newRow("llvmpipe") << QByteArray() << false << llvmpipe << P::Software << false << true;
    QTest::newRow("no opengl") << QByteArray() << false << QByteArray() << P::Software << false
                               << true;
    QTest::newRow("software wished on a gpu")
        << QByteArray("software") << false << gpu << P::Software << false << false;
    QTest::newRow("opengl wished on llvmpipe")
        << QByteArray("OpenGL") << false << llvmpipe << P::OpenGL << false << true;
    QTest::newRow("opengl wished without opengl")
        << QByteArray("opengl") << false << QByteArray() << P::Software << true << true;
    QTest::newRow("wish beats qt's own backend")
        << QByteArray("opengl") << true << gpu << P::OpenGL << false << true;
    QTest::newRow("qt's own backend is left alone")
        << QByteArray() << true << llvmpipe << P::Platform << false << false;
    QTest::newRow("unknown wish chooses by itself")
        << QByteArray("vulkan") << false << llvmpipe << P::Software << true << true;
}

void TestDrawingPath::choice()
{
    QFETCH(QByteArray, wish);
    QFETCH(bool, qtBackendSet);
    QFETCH(QByteArray, renderer);
    int asked = 0;
    const DrawingPathChoice choice = chooseDrawingPath(wish, qtBackendSet, [&] {
        ++asked;
        return renderer;
    });
    QTEST(choice.path, "path");
    QTEST(!choice.warning.isEmpty(), "warns");
    QTEST(asked > 0, "asksRenderer");
    QVERIFY(asked <= 1);
}

void TestDrawingPath::softwareRenderers_data()
{
    QTest::addColumn<QByteArray>("renderer");
    QTest::addColumn<bool>("software");
    QTest::newRow("llvmpipe") << QByteArray("llvmpipe (LLVM 15.0.6, 256 bits)") << true;
    QTest::newRow("softpipe") << QByteArray("softpipe") << true;
    QTest::newRow("swrast") << QByteArray("Mesa DRI swrast") << true;
    QTest::newRow("windows") << QByteArray("GDI Generic Software Rasterizer") << true;
    QTest::newRow("mesa offscreen") << QByteArray("Mesa OffScreen") << true;
    QTest::newRow("none") << QByteArray("  ") << true;
    QTest::newRow("intel") << QByteArray("Mesa Intel(R) UHD Graphics 620 (KBL GT2)") << false;
    QTest::newRow("nvidia") << QByteArray("NVIDIA GeForce GTX 1060/PCIe/SSE2") << false;
    QTest::newRow("virgl") << QByteArray("virgl (NVIDIA GeForce RTX 3060)") << false;
}

void TestDrawingPath::softwareRenderers()
{
    QFETCH(QByteArray, renderer);
    QTEST(isSoftwareRenderer(renderer), "software");
}

QTEST_GUILESS_MAIN(TestDrawingPath)
#include "test_drawing_path.moc"
