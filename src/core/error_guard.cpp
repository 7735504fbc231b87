#include "core/error_guard.h"

#include <cstdio>
#include <new>

namespace framelog {

namespace {
ErrorBox::Presenter &presenter()
{
    static ErrorBox::Presenter p;
    return p;
}
ErrorBox::Presenter &defaultPresenter()
{
    static ErrorBox::Presenter p;
    return p;
}
int g_openCount = 0;
} // namespace

QString errorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void ErrorBox::show(const QString &message)
{
    const QString text = errorBoxText(message);
    ++g_openCount;
    struct Closing {
        ~Closing() { --g_openCount; }
    } closing;
    if (presenter())
        presenter()(text);
    else if (defaultPresenter())
        defaultPresenter()(text);
    else
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(kApplicationTitle), qUtf8Printable(text));
}

QString currentExceptionMessage()
{
    try {
        throw;
    } catch (const Exception &e) {
        return e.message();
    } catch (const std::bad_alloc &) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

int ErrorBox::openCount()
{
    return g_openCount;
}

void ErrorBox::setDefaultPresenter(Presenter p)
{
    defaultPresenter() = std::move(p);
}

void ErrorBox::setPresenter(Presenter p)
{
    presenter() = std::move(p);
}

namespace detail {
void reportCurrentException() noexcept
{
    try {
        ErrorBox::show(currentExceptionMessage());
    } catch (...) {
        // Showing the box itself failed: nothing sensible is left to do, and
        // nothing may cross the event loop.
    }
}
} // namespace detail

} // namespace framelog
