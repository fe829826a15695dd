// Keeps a second copy of the program from running.
//
// The first copy holds an advisory lock on a file named QRB-117 in the
// user's runtime directory for as long as it lives; a copy that finds the
// lock taken ends at once.
#pragma once

#include <string>

namespace qrb {

inline constexpr char kInstanceGuardName[] = "QRB-117";

class InstanceGuard {
  public:
    enum class State {
        Held,           // this process holds the lock
        HeldElsewhere,  // another copy is running
        Unavailable,    // no lock file could be made; the program runs unguarded
    };

    // $XDG_RUNTIME_DIR/QRB-117, or /tmp/QRB-117-<uid> when that is unset.
    static std::string DefaultLockPath();

    explicit InstanceGuard(const std::string& lockPath = DefaultLockPath());
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    State state() const { return state_; }
    bool anotherCopyRuns() const { return state_ == State::HeldElsewhere; }

  private:
    int fd_ = -1;
    State state_ = State::Unavailable;
};

}  // namespace qrb
