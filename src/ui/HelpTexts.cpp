#include "ui/HelpTexts.h"

#include <QStringList>

namespace qrb {

QString WriteButtonHelp(WriteTarget selectedTarget) {
    QString first;
    switch (selectedTarget) {
        case kMasterCpu:
            first = QStringLiteral(
                "When this button is clicked, the RQ-7300 Master CPU will be selected as the "
                "radio to which the firmware will be installed.");
            break;
        case kSlaveCpu:
            first = QStringLiteral(
                "When this button is clicked, the RQ-7300 Slave CPU will be selected as the "
                "radio to which the firmware will be installed.");
            break;
        default:
            first = QStringLiteral(
                "When this button is clicked, the OLU-6 will selected as the unit to which the "
                "firmware will be installed.");
            break;
    }
    const QStringList lines = {
        first,
        QStringLiteral("Follow the steps below."),
        QStringLiteral("1. Connect the DC cable from the radio."),
        QStringLiteral("2. Connect the radio and PC via UIA-40 or UIA-42 with LC-508B."),
        QStringLiteral("3. Turn on the radio."),
        QStringLiteral("4. When you click on the \"WRITE\" button, then firmware writing process "
                       "begins."),
    };
    return lines.join(QStringLiteral("\r\n"));
}

}  // namespace qrb
