#include "capture/capture_run.h"

#include "capture/jpeg_image.h"
#include "core/paths.h"

namespace framelog {

qint32 CaptureRun::advance()
{
    m_counter = qint32(quint32(m_counter) + 1u);
    return m_counter;
}

QString CaptureRun::fileName(const QString &pattern, const std::function<QString()> &title) const
{
    return expandFileNamePattern(pattern, PatternInputs{m_counter, clock, title, formats()});
}

CaptureRun::Fate CaptureRun::save(const QImage &picture, const QString &fileName, bool overwrite)
{
    // A folder of that name is not a file: the save is attempted and reports
    // why it cannot be made.
    if (!overwrite && isExistingFile(fileName))
        return Fate::Skipped;
    TJPEGImage image;
    image.Assign(picture);
    image.SaveToFile(fileName);
    return Fate::Written;
}

} // namespace framelog
