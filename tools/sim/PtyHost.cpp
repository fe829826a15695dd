// Pseudo-terminal host of the radio model.
#include "PtyHost.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <system_error>

namespace qrb::sim {
namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int) {
    stopRequested = 1;
}

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

long long monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

timespec toTimespec(long long ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000LL);
    ts.tv_nsec = static_cast<long>(ns % 1'000'000'000LL);
    return ts;
}

// Below this the host sleeps to the exact instant instead of polling.
constexpr Micros kPreciseSleep{2'000};
// While the end command's echo or the last answer waits to be read.
constexpr Micros kDrainPoll{2'000};
// The terminal passes written bytes on to the other side a little later, so
// an empty input queue there means "read" only once this much has passed.
constexpr Micros kWriteSettle{30'000};

}  // namespace

PtyHost::PtyHost(RadioModel* model, PtyHostOptions options)
    : model_(model), options_(std::move(options)) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        fail("posix_openpt");
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        fail("grantpt/unlockpt");
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        fail("ptsname");
    }
    slavePath_ = name;
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        fail("open " + slavePath_);
    }
    // Raw 38400 8N2 as the PC sets it; the PC's own settings replace these.
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) {
        fail("tcgetattr");
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD | CSTOPB;
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    if (tcsetattr(slave_, TCSANOW, &tio) != 0) {
        fail("tcsetattr");
    }
    if (!options_.link.empty()) {
        ::unlink(options_.link.c_str());
        if (::symlink(slavePath_.c_str(), options_.link.c_str()) != 0) {
            fail("symlink " + options_.link);
        }
    }

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // The signals stay blocked except inside ppoll(), so none is missed
    // between a check of the flag and the wait.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    startNs_ = monotonicNs();
}

PtyHost::~PtyHost() {
    closeTerminal();
    if (!options_.link.empty()) {
        ::unlink(options_.link.c_str());
    }
}

void PtyHost::closeTerminal() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
}

Micros PtyHost::elapsed() const {
    return Micros{(monotonicNs() - startNs_) / 1'000};
}

// The instant a byte due at `due` reaches the PC: with adapter packets, the
// next packet boundary.
Micros PtyHost::handOverAt(Micros due) const {
    const Micros interval = options_.adapterPacketInterval;
    if (interval <= Micros{0}) {
        return due;
    }
    return (due + interval - Micros{1}) / interval * interval;
}

void PtyHost::readInput(Micros now) {
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            return;  // EAGAIN: nothing waiting (EIO cannot occur: our slave fd stays open)
        }
        lastTraffic_ = now;
        bytesFromPc_ += static_cast<std::uint64_t>(n);
        if (model_ == nullptr) {
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            Micros at = now;
            if (options_.lineRate) {
                // On the real line each byte takes its time; bytes the PC
                // wrote at once arrive one after the other.
                at = std::max(now, inputLineFreeAt_) + kByteTime38400;
                inputLineFreeAt_ = at;
            }
            model_->receive(buffer[i], at);
        }
    }
}

void PtyHost::collectOutput(Micros now) {
    for (Burst& burst : model_->takeDue(now)) {
        const bool paced = options_.lineRate && burst.kind != BurstKind::Echo;
        Micros at = paced ? std::max(burst.due, outputLineFreeAt_) : burst.due;
        for (const std::uint8_t byte : burst.bytes) {
            if (paced) {
                at += kByteTime38400;
            }
            Outgoing out{at, byte, burst.kind == BurstKind::Ready};
            auto pos = outgoing_.end();
            while (pos != outgoing_.begin() && std::prev(pos)->at > at) {
                --pos;
            }
            outgoing_.insert(pos, out);
        }
        if (paced) {
            outputLineFreeAt_ = at;
        }
    }
}

void PtyHost::writeDue(Micros now) {
    std::uint8_t buffer[4096];
    std::size_t count = 0;
    while (count < sizeof buffer && count < outgoing_.size() &&
           handOverAt(outgoing_[count].at) <= now) {
        if (outgoing_[count].ready && !model_->connected()) {
            // A ready byte nobody read is stale by now; the new one replaces it.
            tcflush(slave_, TCIFLUSH);
        }
        buffer[count] = outgoing_[count].byte;
        ++count;
    }
    if (count == 0) {
        return;
    }
    const ssize_t written = ::write(master_, buffer, count);
    if (written > 0) {
        lastWriteAt_ = now;
        outgoing_.erase(outgoing_.begin(), outgoing_.begin() + written);
    }
}

bool PtyHost::pcHasReadEverything() const {
    int waiting = 0;
    return ioctl(slave_, FIONREAD, &waiting) == 0 && waiting == 0;
}

void PtyHost::waitUntil(Micros next, Micros now) {
    const Micros remaining = next - now;
    if (remaining <= Micros{0}) {
        return;
    }
    if (remaining <= kPreciseSleep) {
        const timespec until = toTimespec(startNs_ + next.count() * 1'000);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
        return;
    }
    // Poll for input until shortly before the instant, then sleep precisely.
    const timespec timeout = toTimespec((remaining - kPreciseSleep / 2).count() * 1'000);
    pollfd fds[1] = {{master_, static_cast<short>(POLLIN | (outgoing_.empty() ? 0 : POLLOUT)), 0}};
    sigset_t unblocked;
    sigemptyset(&unblocked);
    ppoll(fds, 1, &timeout, &unblocked);
}

std::string PtyHost::run() {
    stopRequested = 0;
    model_->powerOn(Micros{0});
    std::optional<Micros> drainingSince;
    for (;;) {
        if (stopRequested != 0) {
            return "signal";
        }
        Micros now = elapsed();
        const auto vanishAt = model_->vanishAt();
        if (!vanishAt || now < *vanishAt) {
            readInput(now);
        }
        collectOutput(now);
        writeDue(now);

        const bool endReached =
            model_->endCommandReceived() && outgoing_.empty() && model_->scheduled().empty();
        const bool vanishReached = vanishAt && now >= *vanishAt && outgoing_.empty();
        if (endReached || vanishReached) {
            // Keep the terminal open until the PC has read the last bytes:
            // what it has not read is lost when this side closes.
            if (!drainingSince) {
                drainingSince = now;
            }
            const bool read = now - lastWriteAt_ >= kWriteSettle && pcHasReadEverything();
            if (read || now - *drainingSince >= options_.drainLimit) {
                if (vanishReached && !endReached) {
                    closeTerminal();
                    vanished_ = true;
                    return "vanished";
                }
                return "end-command";
            }
        }
        if (options_.idleExit > Micros{0} && now - lastTraffic_ >= options_.idleExit) {
            return "idle";
        }
        if (options_.abandonAfter > Micros{0} && model_->connected() &&
            !model_->endCommandReceived() && now - lastTraffic_ >= options_.abandonAfter) {
            return "abandoned";
        }

        Micros next = now + Micros{1'000'000};
        if (!outgoing_.empty()) {
            next = std::min(next, handOverAt(outgoing_.front().at));
        }
        if (const auto due = model_->nextDue()) {
            next = std::min(next, *due);
        }
        if (vanishAt && now < *vanishAt) {
            next = std::min(next, *vanishAt);
        }
        if (drainingSince) {
            next = std::min(next, now + kDrainPoll);
        }
        if (options_.idleExit > Micros{0}) {
            next = std::min(next, lastTraffic_ + options_.idleExit);
        }
        if (options_.abandonAfter > Micros{0} && model_->connected()) {
            next = std::min(next, lastTraffic_ + options_.abandonAfter);
        }
        waitUntil(next, now);
    }
}

void PtyHost::replaceModel(RadioModel& model) {
    model_ = &model;
    outgoing_.clear();
    tcflush(master_, TCIFLUSH);
    inputLineFreeAt_ = outputLineFreeAt_ = lastTraffic_ = lastWriteAt_ = Micros{0};
    startNs_ = monotonicNs();
}

std::string PtyHost::runWithoutUnit(Micros noiseInterval) {
    // Text as a GPS receiver sends it: the ready byte's value occurs inside
    // each line but never at its start.
    static constexpr char kNoiseLine[] = "$GPGGA,000000.00,,,,,0,00,99.99,,,,,,*48\r\n";
    stopRequested = 0;
    Micros nextNoise = noiseInterval;
    for (;;) {
        if (stopRequested != 0) {
            return "signal";
        }
        const Micros now = elapsed();
        readInput(now);
        if (noiseInterval > Micros{0} && now >= nextNoise) {
            [[maybe_unused]] const ssize_t n = ::write(master_, kNoiseLine, sizeof kNoiseLine - 1);
            nextNoise = now + noiseInterval;
        }
        if (options_.idleExit > Micros{0} && now - lastTraffic_ >= options_.idleExit) {
            return "idle";
        }
        Micros next = now + Micros{1'000'000};
        if (noiseInterval > Micros{0}) {
            next = std::min(next, nextNoise);
        }
        if (options_.idleExit > Micros{0}) {
            next = std::min(next, lastTraffic_ + options_.idleExit);
        }
        waitUntil(next, now);
    }
}

}  // namespace qrb::sim
