// The application's default error box: how an error that escapes an event
// handler reaches the person. Error icon, one OK button, the application
// title as caption; the program goes on afterwards.
#pragma once

#include <QString>

#include <exception>
#include <functional>

namespace qrb {

// The fixed title of the application, the caption of the default error box.
inline constexpr char kApplicationTitle[] = "QRB117 for RQ-7300";

// The message as the box shows it: a period is appended when the last
// character's code is above the period's.
QString ErrorBoxText(const QString& message);

// Shows the box modally.
void ShowDefaultErrorBox(const QString& message);

// Shows the box for an exception caught by the caller.
void ShowDefaultErrorBox(const std::exception_ptr& error);

// Runs work; an exception that escapes it is shown in the default error box
// and does not propagate. False when one was shown.
bool RunGuarded(const std::function<void()>& work);

// A slot for a Qt signal that reports its own errors. Qt's frames between a
// handler and the application object are not exception-safe (an error passing
// through them leaks and can leave Qt's state half-changed), so handlers
// connected to signals stop their errors here.
template <typename Handler>
auto Reported(Handler handler) {
    return [handler] { RunGuarded(handler); };
}

}  // namespace qrb
