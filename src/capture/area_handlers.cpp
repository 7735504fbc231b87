// The main window's area selection handlers.
#include "app/main_form.h"

namespace framelog {

void TMainForm::SelectAreaTBXItemClick() {}
void TMainForm::SelectAreaPaintBoxMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}
void TMainForm::SelectAreaPaintBoxMouseMove(Qt::KeyboardModifiers, int, int) {}
void TMainForm::SelectAreaPaintBoxMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}
void TMainForm::SelectAreaPaintBoxPaint(QPainter &) {}
void TMainForm::NormalizeSelection(TRect &) {}
void TMainForm::ViewPreviewTBXItemClick() {}

} // namespace framelog
