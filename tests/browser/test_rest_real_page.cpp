// A recorder camera whose page rests between pictures (rest-between), on a
// page of live parts: each part is live again at each picture.
#include "browser_test.h"
#include "clock_code.h"
#include "feed_server.h"

#include "record/page_rest.h"
#include "record/recorder.h"
#include "settings/recipe.h"

#include <QPainter>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QWebEnginePage>

using namespace framelog;
using namespace framelog::test;

namespace {

// time stamp, what, how long the tick took
const QRegularExpression kLine(QStringLiteral(R"(^(\S+) cam (.*) \((\d+) ms\)$)"));

struct Picture {
    QString file;
    QDateTime taken;
};

struct RestingRun {
    RestingRun(const QString &url, qint64 everyMs)
    {
        Recipe recipe;
        recipe.url = url;
        recipe.size = QSize(600, 200);
        recipe.everyMs = everyMs;
        recipe.reload = false;
        recipe.restBetween = true;
        recipe.pattern = dir.filePath(QStringLiteral("p%counter%.jpg"));
        browser = new WebEngineBrowser;
        visibility =
            std::make_unique<QSignalSpy>(browser->view()->page(), &QWebEnginePage::visibleChanged);
        camera =
            std::make_unique<RecordCamera>(RecordJob{QStringLiteral("cam"), recipe}, browser,
                                           [this](const QString &line, bool) { lines << line; });
        camera->start();
    }
    // The pictures written, with when they were grabbed.
    QList<Picture> pictures() const
    {
        QList<Picture> pictures;
        for (const QString &line : lines) {
            const auto match = kLine.match(line);
            if (!match.hasMatch() || !match.captured(2).startsWith(u'#') ||
                match.captured(2).contains(QLatin1String("failed")))
                continue;
            const QDateTime logged = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
            pictures << Picture{match.captured(2).section(u' ', 1),
                                logged.addMSecs(-match.captured(3).toLongLong())};
        }
        return pictures;
    }

    int hidings() const
    {
        return int(std::count_if(visibility->cbegin(), visibility->cend(),
                                 [](const QList<QVariant> &args) { return !args[0].toBool(); }));
    }

    QTemporaryDir dir;
    QStringList lines;
    WebEngineBrowser *browser = nullptr;
    std::unique_ptr<QSignalSpy> visibility;
    std::unique_ptr<RecordCamera> camera;
};

} // namespace

class TestRestRealPage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void everyPartIsLiveAtEachPicture();
    void closerPicturesKeepThePageLive();

private:
    std::unique_ptr<FeedServer> m_server;
};

void TestRestRealPage::initTestCase()
{
    m_server = std::make_unique<FeedServer>(QStringList{QStringLiteral(FRAMELOG_TEST_PAGES)});
    m_server->frame = [] {
        QImage image(kClockCodeSize, QImage::Format_RGB32);
        QPainter painter(&image);
        paintClockCode(painter, QPoint(0, 0), clockNow());
        return image;
    };
    m_server->message = [] { return QByteArray::number(clockNow()); };
    m_server->start(100);
}

void TestRestRealPage::everyPartIsLiveAtEachPicture()
{
    RestingRun run(m_server->url(QStringLiteral("/rest-feeds.html")), kRestFromMs);
    constexpr int kPictures = 4;
    QTRY_VERIFY_WITH_TIMEOUT(run.pictures().size() >= kPictures, 60000);

    const char *parts[] = {"timers", "MJPEG", "WebSocket", "player stopped when hidden"};
    for (const Picture &picture : run.pictures().mid(0, kPictures)) {
        const QImage image(picture.file);
        QVERIFY2(!image.isNull(), qPrintable(picture.file));
        const quint32 taken = quint32(picture.taken.toMSecsSinceEpoch() & 0xffffffffLL);
        for (int i = 0; i < 4; ++i) {
            const auto shown = readClockCode(image, QPoint(0, 40 * i));
            QVERIFY2(shown,
                     qPrintable(QStringLiteral("%1: no clock in %2").arg(parts[i], picture.file)));
            // Asleep, each part would be as old as the rest (about the
            // interval); live, a part is at most a few of its frames old.
            const qint64 age = clockAge(taken, *shown);
            QVERIFY2(
                age < 1000,
                qPrintable(
                    QStringLiteral("%1 in %2 is %3 ms old").arg(parts[i], picture.file).arg(age)));
        }
    }
    // Hidden after each picture and woken before the next.
    QVERIFY2(run.hidings() >= kPictures - 1, qPrintable(QString::number(run.hidings())));
}

void TestRestRealPage::closerPicturesKeepThePageLive()
{
    RestingRun run(m_server->url(QStringLiteral("/rest-feeds.html")), kRestFromMs / 2);
    QTRY_VERIFY_WITH_TIMEOUT(run.pictures().size() >= 3, 60000);
    QCOMPARE(run.hidings(), 0);
    QCOMPARE(run.lines.filter(QStringLiteral("too close to rest between")).size(), 1);
}

FRAMELOG_BROWSER_TEST_MAIN(TestRestRealPage)
#include "test_rest_real_page.moc"
