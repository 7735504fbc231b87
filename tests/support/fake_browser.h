#pragma once

#include "browse/browser_control.h"

#include <QImage>
#include <QStringList>
#include <QWidget>

namespace framelog::test {

// A page that paints a known picture: every pixel's colour is a function of
// its position, so a capture can be checked pixel by pixel.
class FakePage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    static QRgb pixelAt(int x, int y);
    // What the page shows in `area`, as a screen-format bitmap.
    static QImage picture(const QRect &area);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// Stands in for the browser control: records every call in `calls` (as
// "Navigate(address)", "GoHome", "Offline(-1)"...) and lets a test fire each
// event through the control's signals.
class FakeBrowser : public TBrowserControl {
    Q_OBJECT
public:
    explicit FakeBrowser(QObject *parent = nullptr);
    ~FakeBrowser() override;

    void GoHome() override { calls << QStringLiteral("GoHome"); }
    void Navigate(const QString &address) override
    {
        calls << QStringLiteral("Navigate(%1)").arg(address);
    }
    void GoBack() override { calls << QStringLiteral("GoBack"); }
    void GoForward() override { calls << QStringLiteral("GoForward"); }
    void Refresh() override { calls << QStringLiteral("Refresh"); }
    void Stop() override { calls << QStringLiteral("Stop"); }
    bool Busy() const override
    {
        ++busyReads;
        return busy;
    }
    QString LocationName() const override { return locationName; }
    void setOffline(bool offline) override
    {
        m_offline = offline;
        calls << QStringLiteral("Offline(%1)").arg(offline ? -1 : 0);
    }
    bool Offline() const override { return m_offline; }
    QWidget *widget() override { return page; }
    QString ErrorText() const override { return errorText; }
    void allowRest() override { calls << QStringLiteral("AllowRest"); }
    void setResting(bool on) override
    {
        resting = on;
        calls << QStringLiteral("Rest(%1)").arg(on ? 1 : 0);
    }
    void setFrameSignals(bool on) override { frameSignals = on; }

    // Calls of one kind, e.g. count("Refresh").
    int count(const QString &call) const { return int(calls.count(call)); }

    QStringList calls;
    bool busy = false;
    bool resting = false;
    bool frameSignals = false;
    mutable int busyReads = 0;
    QString locationName;
    QString errorText;
    FakePage *page = nullptr;

private:
    bool m_offline = false;
};

} // namespace framelog::test
