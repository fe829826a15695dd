// The instance guard on Linux: an advisory lock on a file.
#include "app/InstanceGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace qrb {

std::string InstanceGuard::DefaultLockPath() {
    // Read before any thread exists; the program never changes its environment.
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");  // NOLINT(concurrency-mt-unsafe)
    if (runtimeDir != nullptr && runtimeDir[0] != '\0') {
        return std::string(runtimeDir) + "/" + kInstanceGuardName;
    }
    return std::string("/tmp/") + kInstanceGuardName + "-" + std::to_string(::getuid());
}

InstanceGuard::InstanceGuard(const std::string& lockPath) {
    // O_NOFOLLOW: in a shared folder such as /tmp a planted link must not
    // make us create or lock someone else's file.
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        state_ = State::Held;
        held_ = fd;
        return;
    }
    state_ = errno == EWOULDBLOCK ? State::HeldElsewhere : State::Unavailable;
    ::close(fd);
}

InstanceGuard::~InstanceGuard() {
    if (held_ >= 0) {
        ::close(static_cast<int>(held_));  // releases the lock
    }
}

}  // namespace qrb
