// What the browser reports, shown: status panel 0, the progress bar, and the
// title, address field and address list after a completed navigation.
#include "form_fixture.h"

#include "browse/address_combo_box.h"
#include "ui/progress_bar.h"

#include <QTest>

using namespace framelog;
using namespace framelog::test;

namespace {

const QStringList kDesignEntries{"line 1", "the line 2", "this is line 3"};

using Report = QPair<int, int>; // Progress, ProgressMax

} // namespace

class TestStatusProgressTitle : public QObject {
    Q_OBJECT
private slots:
    void init() { fixture = std::make_unique<FormFixture>(); }
    void cleanup() { fixture.reset(); }

    void statusText_data();
    void statusText();
    void progress_data();
    void progress();
    void title_data();
    void title();
    void completedNavigations_data();
    void completedNavigations();

private:
    std::unique_ptr<FormFixture> fixture;
};

void TestStatusProgressTitle::statusText_data()
{
    QTest::addColumn<QStringList>("reports");
    QTest::addColumn<QString>("shown");
    QTest::newRow("a text") << QStringList{"Opening page http://a.example/..."}
                            << "Opening page http://a.example/...";
    QTest::newRow("an empty text empties the panel") << QStringList{"Loading", ""} << "";
    QTest::newRow("the last one wins") << QStringList{"one", "two", "Done"} << "Done";
    QTest::newRow("wide characters survive") << QStringList{"Ünïcødé ✓ 日本"} << "Ünïcødé ✓ 日本";
}

void TestStatusProgressTitle::statusText()
{
    QFETCH(QStringList, reports);
    QFETCH(QString, shown);
    TMainForm &w = *fixture->form;
    // A capture run's message goes as soon as the browser speaks.
    w.setStatusText(QStringLiteral("Capturing (#3)..."));
    for (const QString &text : std::as_const(reports))
        emit fixture->browser->StatusTextChange(text);
    QCOMPARE(w.statusText(), shown);
}

void TestStatusProgressTitle::progress_data()
{
    QTest::addColumn<QList<Report>>("reports");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<QStringList>("errors");
    const QStringList none;
    // The design range is 0..100 at position 50.
    QTest::newRow("5000 of 10000 after the design range: clamped to the old 100")
        << QList<Report>{{5000, 10000}} << 100 << 10000 << none;
    QTest::newRow("the next report sets it")
        << QList<Report>{{5000, 10000}, {5000, 10000}} << 5000 << 10000 << none;
    QTest::newRow("-1 at the end of a download: empty bar")
        << QList<Report>{{5000, 10000}, {-1, 10000}} << 0 << 10000 << none;
    QTest::newRow("a smaller maximum pulls the position down")
        << QList<Report>{{90, 100}, {90, 50}} << 50 << 50 << none;
    QTest::newRow("the same maximum changes nothing")
        << QList<Report>{{30, 100}} << 30 << 100 << none;
    QTest::newRow("maximum 0") << QList<Report>{{0, 0}} << 0 << 0 << none;
    QTest::newRow("a negative maximum is refused, the position stays")
        << QList<Report>{{7, -1}} << 7 << 100 << QStringList{"TProgressBar property out of range."};
    QTest::newRow("after a refusal the bar goes on")
        << QList<Report>{{7, -5}, {5000, 10000}, {6000, 10000}} << 6000 << 10000
        << QStringList{"TProgressBar property out of range."};
}

void TestStatusProgressTitle::progress()
{
    QFETCH(QList<Report>, reports);
    QFETCH(int, position);
    QFETCH(int, maximum);
    QFETCH(QStringList, errors);
    TProgressBar *bar = fixture->form->ProgressBar;
    for (const Report &report : std::as_const(reports))
        emit fixture->browser->ProgressChange(report.first, report.second);
    QCOMPARE(bar->value(), position);
    QCOMPARE(bar->maximum(), maximum);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(fixture->errors.messages, errors);
}

void TestStatusProgressTitle::title_data()
{
    QTest::addColumn<QString>("locationName");
    QTest::addColumn<QString>("title");
    QTest::newRow("Example") << "Example"
                             << "[Example] - Framelog";
    QTest::newRow("empty") << ""
                           << "[] - Framelog";
    QTest::newRow("wide characters survive") << "Ünïcødé ✓ 日本"
                                             << "[Ünïcødé ✓ 日本] - Framelog";
}

void TestStatusProgressTitle::title()
{
    QFETCH(QString, locationName);
    QFETCH(QString, title);
    TMainForm &w = *fixture->form;
    QCOMPARE(w.windowTitle(), QStringLiteral("Framelog"));
    fixture->browser->locationName = locationName;
    emit fixture->browser->NavigateComplete2(QStringLiteral("http://a.example/"));
    QCOMPARE(w.windowTitle(), title);
    QVERIFY(fixture->errors.messages.isEmpty());
}

void TestStatusProgressTitle::completedNavigations_data()
{
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QStringList>("added"); // after the design entries
    QTest::addColumn<QString>("text");
    QTest::newRow("a new address joins the list")
        << QStringList{"http://a.example/"} << QStringList{"http://a.example/"}
        << "http://a.example/";
    QTest::newRow("the same address twice, once")
        << QStringList{"http://a.example/", "http://a.example/"} << QStringList{"http://a.example/"}
        << "http://a.example/";
    QTest::newRow("another letter case: listed once, the field shows the latest")
        << QStringList{"http://a.example/X", "HTTP://A.EXAMPLE/x"}
        << QStringList{"http://a.example/X"} << "HTTP://A.EXAMPLE/x";
    QTest::newRow("a design entry in another case is not added")
        << QStringList{"LINE 1"} << QStringList() << "LINE 1";
    QTest::newRow("frames: each event's address, the last wins")
        << QStringList{"http://a.example/", "http://a.example/frame.html"}
        << QStringList{"http://a.example/", "http://a.example/frame.html"}
        << "http://a.example/frame.html";
}

void TestStatusProgressTitle::completedNavigations()
{
    QFETCH(QStringList, urls);
    QFETCH(QStringList, added);
    QFETCH(QString, text);
    TAddressComboBox *field = fixture->form->AddressComboBoxItem;
    const QString design = field->Text();
    int changeReports = 0;
    const auto upkeep = field->OnChange;
    field->OnChange = [&] {
        ++changeReports;
        upkeep();
    };
    for (const QString &url : std::as_const(urls))
        emit fixture->browser->NavigateComplete2(url);
    QCOMPARE(field->Text(), text);
    QCOMPARE(field->shownText(), text);
    QCOMPARE(field->items(), kDesignEntries + added);
    // Setting the field is no change report: the design text never joined.
    QCOMPARE(changeReports, 0);
    QVERIFY(!field->items().contains(design));
    QVERIFY(fixture->browser->calls == QStringList{"GoHome"});
}

QTEST_MAIN(TestStatusProgressTitle)
#include "test_status_progress_title.moc"
