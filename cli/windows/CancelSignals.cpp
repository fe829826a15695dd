// Ctrl+C and Ctrl+Break act as the write dialog's Cancel button. The
// console calls its handler on a thread of its own; the handler queues the
// callback for the event loop that the write run pumps.
#include <windows.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cstdio>

#include "cli/CancelSignals.h"

namespace qrb::cli {

namespace {

std::atomic<CancelSignals*> g_active{nullptr};
std::atomic<bool> g_cancelled{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    // A second Ctrl+C ends the program at once, as a terminal user expects.
    if (g_cancelled.exchange(true)) {
        return FALSE;
    }
    CancelSignals* active = g_active.load();
    if (active == nullptr) {
        return FALSE;
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [active] {
            if (g_active.load() == active) {
                active->cancel();
            }
        },
        Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

CancelSignals::CancelSignals(std::function<void()> onCancel, std::string notice)
    : onCancel_(std::move(onCancel)), notice_(std::move(notice)) {
    g_cancelled.store(false);
    g_active.store(this);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CancelSignals::~CancelSignals() {
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_active.store(nullptr);
}

void CancelSignals::cancel() {
    std::fprintf(stderr, "\nqrb117-cli: %s\n", notice_.c_str());
    onCancel_();
}

}  // namespace qrb::cli
