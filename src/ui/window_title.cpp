#include "ui/window_title.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#if QT_CONFIG(xcb) && defined(FRAMELOG_HAS_XCB)
#define FRAMELOG_X11_TITLE 1
#include <xcb/xcb.h>
#endif

namespace framelog {

namespace {

const QString kPlaceholder = QStringLiteral("[*]");
const QString kEscapedPlaceholder = QStringLiteral("[*][*]");
const QString kKeeperName = QStringLiteral("framelogEmptyTitleKeeper");

#ifdef FRAMELOG_X11_TITLE
xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return result;
}
#endif

// Qt's X11 back end writes the application's name into _NET_WM_NAME when a
// title is empty; this puts the empty title back, after Qt, on the same
// connection.
void clearNativeTitle(QWidget *window)
{
#ifdef FRAMELOG_X11_TITLE
    if (!window->testAttribute(Qt::WA_WState_Created) || !window->windowHandle())
        return;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    static const xcb_atom_t netWmName = atom(connection, "_NET_WM_NAME");
    static const xcb_atom_t utf8String = atom(connection, "UTF8_STRING");
    if (netWmName == XCB_ATOM_NONE || utf8String == XCB_ATOM_NONE)
        return;
    const auto id = xcb_window_t(window->windowHandle()->winId());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, netWmName, utf8String, 8, 0,
                        nullptr);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        0, nullptr);
    xcb_flush(connection);
#else
    Q_UNUSED(window);
#endif
}

// Puts an empty title back each time the window's native window is made.
class EmptyTitleKeeper : public QObject {
public:
    explicit EmptyTitleKeeper(QWidget *window) : QObject(window), m_window(window)
    {
        setObjectName(kKeeperName);
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::WinIdChange &&
            m_window->windowTitle().isEmpty())
            clearNativeTitle(m_window);
        return false;
    }

private:
    QWidget *m_window;
};

} // namespace

void setShownWindowTitle(QWidget *window, const QString &title)
{
    QString escaped = title;
    escaped.replace(kPlaceholder, kEscapedPlaceholder);
    window->setWindowTitle(escaped);
    if (!title.isEmpty())
        return;
    if (!window->findChild<QObject *>(kKeeperName, Qt::FindDirectChildrenOnly))
        new EmptyTitleKeeper(window);
    clearNativeTitle(window);
}

QString shownWindowTitle(const QWidget *window)
{
    QString title = window->windowTitle();
    title.replace(kEscapedPlaceholder, kPlaceholder);
    return title;
}

} // namespace framelog
