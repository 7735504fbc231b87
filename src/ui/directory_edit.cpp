#include "ui/directory_edit.h"

#include "core/error_guard.h"
#include "ui/folder_rules.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMimeData>
#include <QPointer>
#include <QStyle>
#include <QToolButton>
#include <QUrl>

namespace framelog {

const QString TDirectoryEdit::kDefaultDialogText =
    QStringLiteral("Select a folder to save the images in:");
const QString TDirectoryEdit::kButtonHint =
    QStringLiteral("Edit/Replace directory part of filename");

namespace {

// Room for a 16-pixel icon with a little air around it.
constexpr int kButtonWidth = 22;

bool isButtonShortcut(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Down &&
           (event->modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier;
}

// The local path of the first dragged URL, when the drag carries URLs at all.
// An empty path means the first URL is not a local file: such a drag is
// refused as a whole, since only the first item counts.
std::optional<QString> firstDroppedPath(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = mime->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return QString();
    return urls.first().toLocalFile();
}

// Takes a dragged path as a copy or link, never a move: a file manager
// deletes the source after a move, and the field only reads the path.
bool acceptAsCopy(QDropEvent *event)
{
    const Qt::DropActions possible = event->possibleActions();
    if (possible & Qt::CopyAction)
        event->setDropAction(Qt::CopyAction);
    else if (possible & Qt::LinkAction)
        event->setDropAction(Qt::LinkAction);
    else
        return false;
    event->accept();
    return true;
}

} // namespace

TDirectoryEdit::TDirectoryEdit(QWidget *parent)
    : QLineEdit(parent), m_dialogText(kDefaultDialogText)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAcceptDrops(true);

    m_button = new QToolButton(this);
    m_button->setObjectName(QStringLiteral("folderButton"));
    m_button->setToolTip(kButtonHint);
    m_button->setAccessibleName(kButtonHint);
    m_button->setAccessibleDescription(QStringLiteral("Alt+Down"));
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setCursor(Qt::ArrowCursor);
    m_button->setAutoRaise(true);
    m_button->setIconSize(QSize(16, 16));
    connect(m_button, &QToolButton::clicked, this, [this] { runGuarded(); });

    connect(this, &QLineEdit::textChanged, this, [this] {
        if (OnChange)
            guarded([this] { OnChange(this); });
    });

    FolderDialog = &TDirectoryEdit::defaultFolderDialog;
    updateButtonLook();
}

TDirectoryEdit::~TDirectoryEdit() = default;

std::optional<QString> TDirectoryEdit::defaultFolderDialog(QWidget *parent, const QString &caption,
                                                           const QString &startFolder)
{
    const QString folder =
        QFileDialog::getExistingDirectory(parent, caption, startFolder, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

void TDirectoryEdit::ButtonClick()
{
    // A modal dialog keeps a second click out, but a handler might not.
    if (m_inSequence)
        return;
    const QPointer<TDirectoryEdit> self(this);
    m_inSequence = true;
    struct SequenceEnd {
        const QPointer<TDirectoryEdit> &edit;
        ~SequenceEnd()
        {
            if (edit)
                edit->m_inSequence = false;
        }
    } sequenceEnd{self};

    const QString startText = text();
    QString name = dialogStartFolder(startText, m_initialDir);
    bool action = true;
    try {
        if (OnBeforeDialog)
            OnBeforeDialog(this, name, action);
        if (!self)
            return;
        if (!action) {
            // Refused before the dialog: nothing may be lost from the text.
            setText(startText);
            return;
        }

        const FolderDialogFunction &dialog =
            FolderDialog ? FolderDialog
                         : FolderDialogFunction(&TDirectoryEdit::defaultFolderDialog);
        const std::optional<QString> chosen = dialog(this, m_dialogText, name);
        if (!self)
            return; // the window went away while the dialog was open
        action = chosen.has_value() && !chosen->isEmpty();
        if (action)
            name = withoutTrailingDelimiter(*chosen);

        if (isEnabled() && isVisible() && focusPolicy() != Qt::NoFocus)
            setFocus(Qt::OtherFocusReason);

        if (OnAfterDialog)
            OnAfterDialog(this, name, action);
        if (!self)
            return;

        if (action) {
            setText(name);
            // Only a pattern without file-name part is a folder itself.
            if (isExistingFolder(name))
                m_initialDir = name;
        } else {
            setText(startText);
        }
    } catch (...) {
        // The field may be showing only its file-name part: give back the
        // whole pattern before the error is reported.
        if (self)
            setText(startText);
        throw;
    }
}

void TDirectoryEdit::runGuarded()
{
    guarded([this] { ButtonClick(); });
}

bool TDirectoryEdit::event(QEvent *event)
{
    // Alt+Down belongs to the field while it has the focus, even if the
    // window binds it elsewhere.
    if (event->type() == QEvent::ShortcutOverride &&
        isButtonShortcut(static_cast<QKeyEvent *>(event))) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void TDirectoryEdit::keyPressEvent(QKeyEvent *event)
{
    if (isButtonShortcut(event)) {
        event->accept();
        runGuarded();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TDirectoryEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    placeButton();
}

void TDirectoryEdit::changeEvent(QEvent *event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::LayoutDirectionChange)
        updateButtonLook();
}

void TDirectoryEdit::updateButtonLook()
{
    const QIcon icon = style()->standardIcon(QStyle::SP_DirIcon, nullptr, this);
    m_button->setIcon(icon);
    m_button->setText(icon.isNull() ? QStringLiteral("...") : QString());
    if (layoutDirection() == Qt::RightToLeft)
        setTextMargins(kButtonWidth, 0, 0, 0);
    else
        setTextMargins(0, 0, kButtonWidth, 0);
    placeButton();
}

void TDirectoryEdit::placeButton()
{
    const int frame =
        hasFrame() ? style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) : 0;
    const int height = qMax(0, this->height() - 2 * frame);
    const int x = layoutDirection() == Qt::RightToLeft ? frame : width() - frame - kButtonWidth;
    m_button->setGeometry(x, frame, kButtonWidth, height);
}

void TDirectoryEdit::dragEnterEvent(QDragEnterEvent *event)
{
    const std::optional<QString> path = firstDroppedPath(event->mimeData());
    if (!path) {
        QLineEdit::dragEnterEvent(event);
        return;
    }
    if (path->isEmpty() || isReadOnly() || !acceptAsCopy(event))
        event->ignore();
}

void TDirectoryEdit::dragMoveEvent(QDragMoveEvent *event)
{
    const std::optional<QString> path = firstDroppedPath(event->mimeData());
    if (!path) {
        QLineEdit::dragMoveEvent(event);
        return;
    }
    if (path->isEmpty() || isReadOnly() || !acceptAsCopy(event))
        event->ignore();
}

void TDirectoryEdit::dropEvent(QDropEvent *event)
{
    const std::optional<QString> path = firstDroppedPath(event->mimeData());
    if (!path) {
        QLineEdit::dropEvent(event);
        return;
    }
    if (path->isEmpty() || isReadOnly() || !acceptAsCopy(event)) {
        event->ignore();
        return;
    }
    setText(droppedPathText(*path));
}

} // namespace framelog
