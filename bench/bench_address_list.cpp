// How long the address list takes to grow: a camera page that adds "?t=..."
// to its address on each load brings a new address every time. Each step is
// what a completed navigation does: the field shows the address, and the
// list gains it unless it holds it already (ignoring case). Target: 20,000
// addresses well under a second.

#include "browse/address_combo_box.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

using framelog::TAddressComboBox;

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    std::printf("%10s %12s %14s\n", "addresses", "total ms", "last 1000 ms");
    for (int total : {20000, 100000}) {
        TAddressComboBox field;
        for (const char *entry : {"line 1", "the line 2", "this is line 3"})
            field.appendItem(QLatin1String(entry));
        QElapsedTimer clock;
        clock.start();
        qint64 beforeLast = 0;
        for (int i = 0; i < total; ++i) {
            if (i == total - 1000)
                beforeLast = clock.elapsed();
            const QString url = QStringLiteral("http://cam.example/live.jpg?t=%1").arg(i);
            field.setText(url);
            if (!field.containsItem(url))
                field.appendItem(url);
        }
        const qint64 all = clock.elapsed();
        std::printf("%10d %12lld %14lld\n", total, static_cast<long long>(all),
                    static_cast<long long>(all - beforeLast));
    }
    return 0;
}
