// The application object of the window program: a QApplication that catches
// what escapes an event handler and reports it in the default error box, so
// that the program goes on instead of ending. The program's own handlers
// report their errors themselves (see Reported in DefaultErrorBox.h); this is
// the last line for anything else.
#pragma once

#include <QApplication>

namespace qrb {

class TApplication : public QApplication {
    Q_OBJECT
  public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace qrb
