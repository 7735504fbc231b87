// The main window's area selection handlers and the preview command.
#include "app/main_form.h"

#include "browse/browser_control.h"
#include "capture/preview_form.h"
#include "capture/selection.h"
#include "ui/paint_box.h"

#include <QAction>
#include <QPainter>
#include <QScopeGuard>

namespace framelog {

namespace {

// Where the paint handler shows a frame: on the strips of the selection
// while it is in force, nowhere otherwise.
QRegion shownFrame(bool active, const TRect &selection)
{
    return active ? selectionFrameRegion(selection) : QRegion();
}

// One pointer step of a drag: the corner under the pointer moves. Only the
// strips of the old and the new frame are repainted, never the picture
// between them: repainting the old strips removes the old frame, and the
// paint handler draws the new one.
void stretchSelection(TMainForm &w, int x, int y)
{
    QRegion strips = shownFrame(w.FSelectionActive, w.FSelection);
    w.FSelection.Right = x;
    w.FSelection.Bottom = y;
    w.NormalizeSelection(w.FSelection);
    strips += shownFrame(w.FSelectionActive, w.FSelection);
    if (!strips.isEmpty())
        w.SelectAreaPaintBox->update(strips);
}

} // namespace

void TMainForm::SelectAreaTBXItemClick()
{
    const bool checked = SelectAreaTBXItem->isChecked();
    SetNavigationEnabled(!checked);
    QWidget *browser = WebBrowser->widget();
    if (checked) {
        // The frozen picture is the whole area. The flag goes back also when
        // the capture fails, so an earlier selection stays in force.
        const bool wasActive = FSelectionActive;
        FSelectionActive = false;
        {
            const auto putBack = qScopeGuard([&] { FSelectionActive = wasActive; });
            CapturePage();
        }
        if (browser)
            browser->lower();
        SelectAreaPanel->raise();
        // The keyboard starts where the selection in force begins.
        if (FSelectionActive)
            SelectAreaPaintBox->setKeyboardCursor(QPoint(FSelection.Left, FSelection.Top));
        SelectAreaPaintBox->update();
    } else {
        if (browser)
            browser->raise();
        SelectAreaPanel->lower();
    }
}

void TMainForm::SelectAreaPaintBoxMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x,
                                            int y)
{
    // Any other button ends a drag where it is.
    FSelecting = button == Qt::LeftButton;
    if (!FSelecting)
        return;
    FSelection = {x, y, x, y};
    SelectAreaPaintBox->update();
}

void TMainForm::SelectAreaPaintBoxMouseMove(Qt::KeyboardModifiers, int x, int y)
{
    if (FSelecting)
        stretchSelection(*this, x, y);
}

void TMainForm::SelectAreaPaintBoxMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)
{
    if (!FSelecting)
        return;
    stretchSelection(*this, x, y);
    FSelecting = false;
}

void TMainForm::SelectAreaPaintBoxPaint(QPainter &painter)
{
    if (!FCaptureBitmap)
        return;
    const QImage &picture = *FCaptureBitmap;
    // Only what this paint has to cover, so a drag step's few strips cost
    // little whatever the picture's size.
    for (const QRect &exposed : SelectAreaPaintBox->paintRegion()) {
        const QRect part = exposed & picture.rect();
        if (!part.isEmpty())
            painter.drawImage(part.topLeft(), picture, part);
    }
    if (FSelectionActive)
        drawSelectionFrame(painter, FSelection);
}

void TMainForm::NormalizeSelection(TRect &selection)
{
    FSelectionActive =
        normalizeSelection(selection, SelectAreaPaintBox->width(), SelectAreaPaintBox->height());
}

void TMainForm::ViewPreviewTBXItemClick()
{
    // The capture bitmap is put back afterwards (an empty one when there was
    // none), also when the capture fails, so area mode's frozen picture is
    // never replaced by a preview.
    const QImage earlier = FCaptureBitmap.value_or(QImage());
    const auto putBack = qScopeGuard([&] { FCaptureBitmap = earlier; });
    CapturePage();
    if (!m_preview)
        return;
    m_preview->setVisible(ViewPreviewTBXItem->isChecked());
    m_preview->setPicture(*FCaptureBitmap);
}

} // namespace framelog
