// The main window's area selection handlers and the preview command.
#include "app/main_form.h"

#include "browse/browser_control.h"
#include "capture/page_capture.h"
#include "capture/preview_form.h"
#include "capture/selection.h"
#include "ui/paint_box.h"

#include <QAction>
#include <QPainter>

namespace framelog {

namespace {

// Where the paint handler shows a frame: on the strips of the selection
// while it is in force, nowhere otherwise.
QRegion shownFrame(bool active, const TRect &selection)
{
    return active ? selectionFrameRegion(selection) : QRegion();
}

} // namespace

// One pointer step of a drag: the rectangle from the corner where the drag
// began to the pointer. The ordering of an earlier step is not built on, so
// a pointer that overshoots an edge and comes back leaves the anchor where
// it was. Only the strips of the old and the new frame are repainted, never
// the picture between them: repainting the old strips removes the old frame,
// and the paint handler draws the new one.
void TMainForm::stretchSelection(int x, int y)
{
    QRegion strips = shownFrame(FSelectionActive, FSelection);
    FSelection = {m_dragAnchor.x(), m_dragAnchor.y(), x, y};
    NormalizeSelection(FSelection);
    strips += shownFrame(FSelectionActive, FSelection);
    if (!strips.isEmpty())
        SelectAreaPaintBox->update(strips);
}

void TMainForm::SelectAreaTBXItemClick()
{
    const bool checked = SelectAreaTBXItem->isChecked();
    SetNavigationEnabled(!checked);
    QWidget *browser = WebBrowser->widget();
    if (checked) {
        // The frozen picture is the whole area, whatever selection is in force.
        FCaptureBitmap.emplace();
        *FCaptureBitmap = grabPage(browser, captureArea(false));
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
    m_dragAnchor = QPoint(x, y);
    FSelection = {x, y, x, y};
    SelectAreaPaintBox->update();
}

void TMainForm::SelectAreaPaintBoxMouseMove(Qt::KeyboardModifiers, int x, int y)
{
    if (FSelecting)
        stretchSelection(x, y);
}

void TMainForm::SelectAreaPaintBoxMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)
{
    if (!FSelecting)
        return;
    stretchSelection(x, y);
    FSelecting = false;
}

void TMainForm::SelectAreaPaintBoxPaint(QPainter &painter)
{
    if (!FCaptureBitmap)
        return;
    const QImage &picture = *FCaptureBitmap;
    // A picture in device pixels covers the box at its logical size, each of
    // its pixels on one of the screen's: the selection is made in the box's
    // logical pixels, as on the live page.
    const qreal ratio = picture.devicePixelRatio();
    const QRect shown(QPoint(0, 0), picture.deviceIndependentSize().toSize());
    // Only what this paint has to cover, so a drag step's few strips cost
    // little whatever the picture's size.
    for (const QRect &exposed : SelectAreaPaintBox->paintRegion()) {
        const QRect part = exposed & shown;
        if (part.isEmpty())
            continue;
        if (ratio == 1)
            painter.drawImage(part.topLeft(), picture, part);
        else
            painter.drawImage(QRectF(part), picture,
                              QRectF(part.topLeft() * ratio, QSizeF(part.size()) * ratio));
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
    // The preview takes its own picture: area mode's frozen picture in the
    // capture bitmap stays as it is.
    const QImage picture = grabPage(WebBrowser->widget(), captureArea(FSelectionActive));
    if (!m_preview)
        return;
    m_preview->setVisible(ViewPreviewTBXItem->isChecked());
    m_preview->setPicture(picture);
}

} // namespace framelog
