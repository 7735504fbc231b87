// The main window's save-location handlers: the field's folder dialog and the
// Browse command.
#include "app/main_form.h"

#include "settings/save_location.h"
#include "ui/directory_edit.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

namespace framelog {

void TMainForm::FileNameEditBeforeDialog(QString &, bool &)
{
    // While the dialog is open the field (and so Label5) shows only the name,
    // but a run goes on writing where the whole pattern says.
    const QString pattern = FileNameEdit->text();
    FileNameEdit->setText(fileNamePart(pattern));
    m_patternBeforeDialog = pattern;
}

void TMainForm::FileNameEditAfterDialog(QString &name, bool &)
{
    m_patternBeforeDialog.reset();
    name = joinFolderAndName(name, FileNameEdit->text());
}

void TMainForm::TBXItem1Click()
{
    const QString folder =
        browseFolder(FileNameEdit->text(), QCoreApplication::applicationFilePath());
    // A folder that cannot be opened is not reported.
    if (folderOpener)
        folderOpener(folder);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

} // namespace framelog
