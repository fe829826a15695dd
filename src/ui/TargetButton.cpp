#include "ui/TargetButton.h"

#include <QMouseEvent>

namespace qrb {

TargetButton::TargetButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    setCheckable(true);
    setFocusPolicy(Qt::NoFocus);
    // The accelerator of the caption is handled by the main window, which
    // shares the letter O with its Close button.
    setShortcut(QKeySequence());
}

void TargetButton::mouseReleaseEvent(QMouseEvent* event) {
    emit mouseUp(event->button());
    QPushButton::mouseReleaseEvent(event);
}

}  // namespace qrb
