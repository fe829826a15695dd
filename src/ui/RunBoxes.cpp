#include "ui/RunBoxes.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>

#include "writing/WriteTexts.h"

namespace qrb {

namespace {

// A message box that tells a button from the window's close box: Qt answers
// a closed box with its escape button, which for "Ok ?" is OK itself.
class PlacedBox : public QMessageBox {
  public:
    PlacedBox(QWidget* mainWindow, int dx, int dy, Icon icon, const QString& caption,
              const QString& text, StandardButtons buttons)
        : QMessageBox(icon, caption, text, buttons, mainWindow) {
        setTextFormat(Qt::PlainText);
        if (mainWindow != nullptr) {
            move(mainWindow->pos() + QPoint(dx, dy));
        }
    }
    bool closedByWindow = false;

  protected:
    void closeEvent(QCloseEvent* event) override {
        if (clickedButton() == nullptr) {
            closedByWindow = true;
        }
        QMessageBox::closeEvent(event);
    }
};

}  // namespace

bool AskProblemOnComPort(QWidget* mainWindow) {
    PlacedBox box(mainWindow, 150, 150, QMessageBox::Critical, QStringLiteral("Error"),
                  QString::fromLatin1(kProblemOnComPortText),
                  QMessageBox::Ok | QMessageBox::Cancel);
    box.exec();
    return !box.closedByWindow && box.clickedButton() != box.button(QMessageBox::Cancel);
}

bool AskOkConfirmation(QWidget* mainWindow) {
    PlacedBox box(mainWindow, 200, 150, QMessageBox::Question, QStringLiteral("Confirm"),
                  QString::fromLatin1(kOkConfirmationText), QMessageBox::Ok);
    box.exec();
    return !box.closedByWindow && box.clickedButton() == box.button(QMessageBox::Ok);
}

}  // namespace qrb
