#pragma once

#include <QLineEdit>
#include <QString>
#include <QToolButton>

#include <functional>
#include <optional>

namespace framelog {

// A single-line edit with a small folder button at its right end: the
// save-location field. The button (or Alt+Down while the field has the
// focus) opens a folder dialog; a file or folder dropped from the file
// manager replaces the text. The folder rules live in folder_rules.h.
//
// The button sequence:
//  1. the current text is remembered as the start text;
//  2. the start folder is chosen: dialogStartFolder(start text, InitialDir());
//  3. OnBeforeDialog(this, Name, Action) runs with Name = the start folder and
//     Action = true. The handler may change Name (the folder the dialog opens
//     at) or set Action = false: then the dialog does not open, the start
//     text is put back and the sequence ends;
//  4. FolderDialog(this, DialogText(), Name) runs;
//  5. on OK, Name = the chosen folder without trailing "/" (root stays "/");
//     on Cancel Name stays as it was;
//  6. the focus returns to the field when it can take it;
//  7. OnAfterDialog(this, Name, Action) runs, with Action = whether the user
//     confirmed; the handler may change both;
//  8. if Action: the text becomes Name, and when Name is an existing folder it
//     also becomes InitialDir(); otherwise the text goes back to the start
//     text.
// Should a handler or the dialog throw, the start text is put back before
// the exception travels on; the button and Alt+Down show it in the error box.
//
// Every text change, whether typed, dropped or made by this sequence, is
// reported once through QLineEdit::textChanged and OnChange.
//
class TDirectoryEdit : public QLineEdit {
    Q_OBJECT
public:
    // Asks the user for a folder, starting at `startFolder`; nullopt when
    // the user cancelled.
    using FolderDialogFunction = std::function<std::optional<QString>(
        QWidget *parent, const QString &caption, const QString &startFolder)>;
    using DialogEvent = std::function<void(QObject *sender, QString &name, bool &action)>;
    using ChangeEvent = std::function<void(QObject *sender)>;

    explicit TDirectoryEdit(QWidget *parent = nullptr);
    ~TDirectoryEdit() override;

    // The dialog's title line.
    QString DialogText() const { return m_dialogText; }
    void setDialogText(const QString &text) { m_dialogText = text; }

    // Where the dialog starts when the field is empty; set by step 8.
    QString InitialDir() const { return m_initialDir; }
    void setInitialDir(const QString &folder) { m_initialDir = folder; }

    DialogEvent OnBeforeDialog;
    DialogEvent OnAfterDialog;
    // Runs inside the error guard, once per change of the text.
    ChangeEvent OnChange;

    // The dialog seam. By default (and when left empty) it is
    // defaultFolderDialog; tests put their own here.
    FolderDialogFunction FolderDialog;
    static std::optional<QString> defaultFolderDialog(QWidget *parent, const QString &caption,
                                                      const QString &startFolder);

    // The folder button (object name "folderButton"); it takes no focus
    // itself, Alt+Down in the field reaches it from the keyboard.
    QToolButton *button() const { return m_button; }

    // Runs the button sequence described above. Exceptions from handlers or
    // the dialog propagate (after the text is restored).
    void ButtonClick();

    static const QString kDefaultDialogText; // "Select a folder to save the images in:"
    static const QString kButtonHint;        // "Edit/Replace directory part of filename"

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void runGuarded();
    void updateButtonLook();
    void placeButton();

    QToolButton *m_button = nullptr;
    QString m_dialogText;
    QString m_initialDir;
    bool m_inSequence = false;
};

} // namespace framelog
