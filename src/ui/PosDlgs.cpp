#include "ui/PosDlgs.h"

#include <QFileDialog>
#include <QScreen>
#include <QShowEvent>

#include <algorithm>

namespace qrb {

QPoint DialogPositionCenter(const QRect& workArea, const QSize& dialogSize) {
    const int right = workArea.left() + workArea.width();
    const int bottom = workArea.top() + workArea.height();
    int x = workArea.left() + (workArea.width() - dialogSize.width()) / 2;
    int y = workArea.top() + (workArea.height() - dialogSize.height()) / 2;
    if (x + dialogSize.width() > right) {
        x = right - dialogSize.width();
    }
    if (y + dialogSize.height() > bottom) {
        y = bottom - dialogSize.height();
    }
    return {std::max(x, workArea.left()), std::max(y, workArea.top())};
}

namespace {

// Qt's own (not the desktop's) folder chooser: only a dialog of our own can
// be placed where we want it.
class PlacedFolderDialog : public QFileDialog {
  public:
    PlacedFolderDialog(QWidget* owner, const QString& title, const QString& directory)
        : QFileDialog(owner, title, directory) {
        setOption(QFileDialog::DontUseNativeDialog);
        setOption(QFileDialog::ShowDirsOnly);
        setFileMode(QFileDialog::Directory);
        setAcceptMode(QFileDialog::AcceptOpen);
    }

  protected:
    void showEvent(QShowEvent* event) override {
        QFileDialog::showEvent(event);
        if (!event->spontaneous()) {
            const QScreen* where = screen();
            if (where != nullptr) {
                move(DialogPositionCenter(where->availableGeometry(), frameGeometry().size()));
            }
        }
    }
};

}  // namespace

bool TFolderDialogPos::Execute() {
    PlacedFolderDialog dialog(owner_, Title, Directory);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return false;
    }
    Directory = chosen.front();
    return true;
}

}  // namespace qrb
