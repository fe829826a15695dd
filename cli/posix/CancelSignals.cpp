#include "cli/CancelSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdio>

namespace qrb::cli {

namespace {

int g_pipe[2] = {-1, -1};

extern "C" void OnCancelSignal(int signo) {
    // A second Ctrl+C ends the program at once, as a terminal user expects.
    ::signal(signo, SIG_DFL);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
}

}  // namespace

CancelSignals::CancelSignals(std::function<void()> onCancel) : onCancel_(std::move(onCancel)) {
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("qrb117-cli: pipe");
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char buffer[16];
        while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
        }
        std::fprintf(stderr, "\nqrb117-cli: cancelling the write...\n");
        cancel();
    });
    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

CancelSignals::~CancelSignals() {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    notifier_.reset();
    for (int& fd : g_pipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void CancelSignals::cancel() {
    onCancel_();
}

}  // namespace qrb::cli
