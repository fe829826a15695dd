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

CancelSignals::CancelSignals(std::function<void()> onCancel, std::string notice)
    : onCancel_(std::move(onCancel)), notice_(std::move(notice)) {
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("qrb117-cli: pipe");
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char buffer[16];
        while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
        }
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
    std::fprintf(stderr, "\nqrb117-cli: %s\n", notice_.c_str());
    onCancel_();
}

}  // namespace qrb::cli
