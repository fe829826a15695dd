#include "app/TApplication.h"

#include "ui/DefaultErrorBox.h"

namespace qrb {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf8(kApplicationTitle));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowDefaultErrorBox(std::current_exception());
        return false;
    }
}

}  // namespace qrb
