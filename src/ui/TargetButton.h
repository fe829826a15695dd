// A target filter button of the main window: a toggle button whose down
// state is set only by its owner, that reports every mouse release over it
// (also one that completes no click), and that takes no keyboard focus.
#pragma once

#include <QPushButton>

namespace qrb {

class TargetButton : public QPushButton {
    Q_OBJECT
  public:
    TargetButton(const QString& caption, QWidget* parent);

  signals:
    // A mouse button was released over the button; emitted before a click
    // that the release completes.
    void mouseUp(Qt::MouseButton button);

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    // A click must not toggle by itself: the catalogue decides the down state.
    void nextCheckState() override {}
};

}  // namespace qrb
