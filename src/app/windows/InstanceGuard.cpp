// The instance guard on Windows: the named mutex QRB-117.
#include <windows.h>

#include "app/InstanceGuard.h"

namespace qrb {

std::string InstanceGuard::DefaultLockPath() {
    return kInstanceGuardName;
}

InstanceGuard::InstanceGuard(const std::string& mutexName) {
    // A mutex that can be opened belongs to a running copy.
    if (HANDLE existing = ::OpenMutexA(MUTEX_ALL_ACCESS, FALSE, mutexName.c_str())) {
        ::CloseHandle(existing);
        state_ = State::HeldElsewhere;
        return;
    }
    HANDLE mutex = ::CreateMutexA(nullptr, FALSE, mutexName.c_str());
    if (mutex == nullptr) {
        return;  // Unavailable: the program runs unguarded
    }
    held_ = reinterpret_cast<std::intptr_t>(mutex);
    state_ = State::Held;
}

InstanceGuard::~InstanceGuard() {
    if (held_ != -1) {
        HANDLE mutex = reinterpret_cast<HANDLE>(held_);
        ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
    }
}

}  // namespace qrb
