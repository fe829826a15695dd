// Ctrl+C (SIGINT) and SIGTERM act as the write dialog's Cancel button. The
// signal handler only writes to a pipe; the event loop that the write run
// pumps reads it and calls the callback on the run's thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace qrb::cli {

class CancelSignals {
  public:
    explicit CancelSignals(std::function<void()> onCancel,
                           std::string notice = "cancelling the write...");
    ~CancelSignals();
    CancelSignals(const CancelSignals&) = delete;
    CancelSignals& operator=(const CancelSignals&) = delete;

  private:
    std::function<void()> onCancel_;
    std::string notice_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace qrb::cli
