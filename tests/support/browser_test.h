#pragma once

// Helpers for tests that drive the real Qt WebEngine control.

#include "browse/web_engine_browser.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

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

} // namespace framelog::test

// Like QTEST_MAIN, with the browser's environment prepared before the
// application exists.
#define FRAMELOG_BROWSER_TEST_MAIN(TestObject)                                                     \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        framelog::WebEngineBrowser::prepareEnvironment();                                          \
        QApplication app(argc, argv);                                                              \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
