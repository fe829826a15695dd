// The folder dialog of the main window: Qt's folder chooser, titled, preset
// to a folder and placed centred in the screen's work area (the part the
// taskbar and panels leave free).
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

namespace qrb {

// Where a dialog of dialogSize goes to be centred in workArea: centred, then
// pulled back so that its right and bottom edges stay inside, then pushed so
// that its left and top edges do.
QPoint DialogPositionCenter(const QRect& workArea, const QSize& dialogSize);

class TFolderDialogPos {
  public:
    explicit TFolderDialogPos(QWidget* owner) : owner_(owner) {}

    QString Title = QStringLiteral("Select Directory");
    // The folder preselected when the dialog opens; the chosen one after
    // Execute returned true.
    QString Directory;

    // Shows the dialog modally; true when the person chose a folder.
    bool Execute();

  private:
    QWidget* owner_;
};

}  // namespace qrb
