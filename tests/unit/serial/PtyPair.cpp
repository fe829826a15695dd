// A pseudo-terminal pair for tests.
#include "PtyPair.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <thread>

namespace qrb::test {

using Clock = std::chrono::steady_clock;

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    std::array<char, 128> name{};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name.data(), name.size()) != 0) {
        ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
        return;
    }
    slavePath_ = name.data();
}

PtyPair::~PtyPair() {
    closeMaster();
}

void PtyPair::closeMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void PtyPair::write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (done < bytes.size() && Clock::now() < deadline) {
        const ssize_t written = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else {
            pollfd out{master_, POLLOUT, 0};
            ::poll(&out, 1, 10);
        }
    }
    ASSERT_EQ(done, bytes.size()) << "the pseudo-terminal took only part of the bytes";
}

std::vector<std::uint8_t> PtyPair::read(std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> got;
    const auto deadline = Clock::now() + timeout;
    std::array<std::uint8_t, 4096> chunk{};
    while (got.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd in{master_, POLLIN, 0};
        if (::poll(&in, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        const ssize_t n = ::read(master_, chunk.data(), std::min(chunk.size(), count - got.size()));
        if (n > 0) {
            got.insert(got.end(), chunk.begin(), chunk.begin() + n);
        } else {
            // EIO while no slave is open: nothing to read yet.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return got;
}

bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void PumpFor(std::chrono::milliseconds duration) {
    const auto deadline = Clock::now() + duration;
    while (Clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

}  // namespace qrb::test
