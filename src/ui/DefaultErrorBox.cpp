#include "ui/DefaultErrorBox.h"

#include <QMessageBox>

#include <stdexcept>

namespace qrb {

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.') {
        return message + u'.';
    }
    return message;
}

void ShowDefaultErrorBox(const QString& message) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kApplicationTitle),
                    ErrorBoxText(message), QMessageBox::Ok);
    box.exec();
}

void ShowDefaultErrorBox(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        ShowDefaultErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowDefaultErrorBox(QStringLiteral("Unknown error"));
    }
}

bool RunGuarded(const std::function<void()>& work) {
    try {
        work();
        return true;
    } catch (...) {
        ShowDefaultErrorBox(std::current_exception());
        return false;
    }
}

}  // namespace qrb
