#include "ui/GuiWriteHost.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>

#include "ui/DefaultErrorBox.h"
#include "ui/RunBoxes.h"
#include "ui/U_WriteDialog.h"
#include "ui/fw.h"

namespace qrb {

void GuiWriteHost::setInstructionText(const std::string& text) {
    main_.SetInstructionText(QString::fromStdString(text));
    main_.Label1->repaint();
}

void GuiWriteHost::showStatusLamp(StatusLamp lamp) {
    main_.ShowStatusLamp(lamp);
    main_.StatusBar1->repaint();
}

void GuiWriteHost::setVersionLabel(WriteTarget target, const std::string& text) {
    if (QLabel* label = main_.VersionLabel(target)) {
        label->setText(QString::fromStdString(text));
        label->repaint();
    }
}

QProgressBar* GuiWriteHost::Bar(ProgressBarId bar) const {
    return bar == ProgressBarId::Bar1 ? main_.ProgressBar1 : main_.ProgressBar2;
}

void GuiWriteHost::setRange(ProgressBarId bar, int minimum, int maximum) {
    Bar(bar)->setRange(minimum, maximum);
}

void GuiWriteHost::setPosition(ProgressBarId bar, int position) {
    Bar(bar)->setValue(position);  // a progress bar repaints itself when it shows a change
}

void GuiWriteHost::setVisible(ProgressBarId bar, bool visible) {
    Bar(bar)->setVisible(visible);
}

void GuiWriteHost::showingOutcome() {
    dialog_.hide();
}

void GuiWriteHost::retrying() {
    dialog_.show();
}

void GuiWriteHost::runEnding() {
    dialog_.CloseDialog();
}

bool GuiWriteHost::askProblemOnComPort() {
    return AskProblemOnComPort(&main_);
}

bool GuiWriteHost::askOkConfirmation() {
    return AskOkConfirmation(&main_);
}

void GuiWriteHost::showError(const std::string& message) {
    ShowDefaultErrorBox(QString::fromStdString(message));
}

}  // namespace qrb
