#include "capture/capture_run.h"

#include "capture/jpeg_image.h"

#include <QFile>

#include <sys/stat.h>

namespace framelog {

void RunFailures::reset()
{
    m_count = 0;
    m_last.clear();
}

void RunFailures::record(const QString &message)
{
    ++m_count;
    m_last = message;
}

QString RunFailures::status(qint32 picture, const QStringList &notes) const
{
    QString text = QStringLiteral("Capturing (#%1)...").arg(picture);
    QStringList parts = notes;
    if (m_count > 0)
        parts << QStringLiteral("%1 failed, last: %2").arg(m_count).arg(m_last);
    if (!parts.isEmpty())
        text += QLatin1Char(' ') + parts.join(QStringLiteral(", "));
    return text;
}

qint32 CaptureRun::advance()
{
    m_counter = qint32(quint32(m_counter) + 1u);
    return m_counter;
}

QString CaptureRun::fileName(const QString &pattern, const std::function<QString()> &title) const
{
    return expandFileNamePattern(pattern, PatternInputs{m_counter, clock, title, formats()});
}

bool CaptureRun::isTaken(const QString &fileName)
{
    const QByteArray name = QFile::encodeName(fileName);
    if (name.isEmpty() || name.contains('\0'))
        return false;
    struct stat st;
    if (::lstat(name.constData(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode))
        return false;
    if (S_ISLNK(st.st_mode)) {
        // A link to a folder is that folder; a dangling link is taken.
        struct stat target;
        return !(::stat(name.constData(), &target) == 0 && S_ISDIR(target.st_mode));
    }
    return true;
}

CaptureRun::Fate CaptureRun::save(const QImage &picture, const QString &fileName, bool overwrite)
{
    // A 0-byte file under a picture's name would pass for a picture.
    if (picture.width() == 0 || picture.height() == 0)
        throw EEmptyPicture();
    // A folder of that name is not taken: the save is attempted and reports
    // why it cannot be made.
    if (!overwrite && isTaken(fileName))
        return Fate::Skipped;
    TJPEGImage image;
    image.Assign(picture);
    image.SaveToFile(fileName);
    return Fate::Written;
}

} // namespace framelog
