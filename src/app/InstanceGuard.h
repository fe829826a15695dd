// Keeps a second copy of the program from running.
//
// On Windows the first copy creates the named mutex QRB-117 and holds it for
// as long as it lives; a copy that can open the mutex ends at once. On Linux
// the first copy holds an advisory lock on a file named QRB-117 in the
// user's runtime directory instead.
#pragma once

#include <cstdint>
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

    // $XDG_RUNTIME_DIR/QRB-117, or /tmp/QRB-117-<uid> when that is unset;
    // on Windows the mutex name QRB-117.
    static std::string DefaultLockPath();

    explicit InstanceGuard(const std::string& lockPath = DefaultLockPath());
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    State state() const { return state_; }
    bool anotherCopyRuns() const { return state_ == State::HeldElsewhere; }

  private:
    std::intptr_t held_ = -1;  // the lock file's descriptor, or the mutex handle
    State state_ = State::Unavailable;
};

}  // namespace qrb
