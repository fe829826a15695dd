// The port backend on POSIX termios, as used on Linux.
//
// The device is opened non-blocking and locked (flock, plus TIOCEXCL for
// other users), so a second open of the same port fails as "no sharing"
// does. Received bytes are moved from the device into a queue of our own
// because PARMRK marking (the only way termios reports breaks and framing or
// parity errors in the data stream) changes the byte count the driver sees:
// the queue holds the plain data, and its size is the input-queue count.
// Threads blocked on the device wait in poll() on the device and on a
// wake-up pipe, since closing or flushing from another thread does not wake
// a blocked read or write.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <utility>

#include "serial/PortBackend.h"
#include "serial/posix/ParmrkDecoder.h"

namespace qrb {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kInvalidHandle = 0xFFFFFFFF;
// Bytes held in our own input queue before we stop taking more from the
// device; beyond it the driver's own buffer and flow control take over.
constexpr std::size_t kInputQueueLimit = std::size_t{64} * 1024;
constexpr std::size_t kMaxPiecesPerWrite = 64;

struct SpeedEntry {
    std::uint32_t bitRate;
    speed_t speed;
};
constexpr std::array<SpeedEntry, 30> kSpeeds{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

std::optional<speed_t> SpeedFor(std::uint32_t bitRate) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.bitRate == bitRate) {
            return entry.speed;
        }
    }
    return std::nullopt;
}

std::uint32_t BitRateFor(speed_t speed) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.speed == speed) {
            return entry.bitRate;
        }
    }
    return 0;
}

bool IsDeviceGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE || error == EBADF;
}

// poll() time-out in milliseconds until the deadline, rounded up; -1 = none.
int PollTimeoutMs(SteadyDeadline deadline) {
    if (!deadline) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    constexpr std::chrono::milliseconds::rep kLongest = 0x7FFFFFFF;
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, kLongest));
}

// A self-pipe that makes a poll() return.
class WakePipe {
  public:
    WakePipe() = default;
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;
    ~WakePipe() {
        if (fds_[0] >= 0) {
            ::close(fds_[0]);
            ::close(fds_[1]);
        }
    }

    std::error_code create() {
        if (::pipe2(fds_.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
            return {errno, std::generic_category()};
        }
        return {};
    }
    int readFd() const { return fds_[0]; }
    void signal() const {
        const std::uint8_t token = 1;
        // A full pipe is already signalled; nothing else can go wrong here.
        [[maybe_unused]] const ssize_t written = ::write(fds_[1], &token, 1);
    }
    void drain() const {
        std::array<std::uint8_t, 64> sink{};
        while (::read(fds_[0], sink.data(), sink.size()) > 0) {
        }
    }

  private:
    std::array<int, 2> fds_{-1, -1};
};

class PosixPortBackend final : public PortBackend {
  public:
    ~PosixPortBackend() override { close(); }

    std::error_code open(const std::string& devicePath) override;
    void close() override;
    std::uint32_t handle() const override {
        return fd_ >= 0 ? static_cast<std::uint32_t>(fd_) : kInvalidHandle;
    }

    bool setupQueues(int inputSize, int outputSize) override {
        // The tty layer sizes its buffers itself; only nonsense is refused.
        return inputSize >= 1 && outputSize >= 1;
    }
    bool getState(CommState& state) override;
    bool setState(const CommState& state) override;
    bool setTimeouts(const CommTimeouts& timeouts) override {
        std::lock_guard lock(inputMutex_);
        timeouts_ = timeouts;
        return true;
    }
    CommTimeouts timeouts() const override {
        std::lock_guard lock(inputMutex_);
        return timeouts_;
    }
    bool setEventMask(std::uint32_t mask) override {
        std::lock_guard lock(inputMutex_);
        eventMask_ = mask;
        return true;
    }
    void setRts(bool on) override { setModemLine(TIOCM_RTS, on); }

    void purgeOutput() override {
        ::tcflush(fd_, TCOFLUSH);
        writeWake_.signal();
    }
    void purgeInput() override;

    CommStatus clearCommError() override;
    std::uint32_t takeGatheredErrors() override;
    int read(std::uint8_t* buffer, int count) override;

    std::uint32_t waitCommEvent() override;
    void interruptWait() override {
        waitInterrupted_.store(true);
        eventWake_.signal();
    }

    WriteResult write(std::span<const std::span<const std::uint8_t>> pieces) override;
    WaitStatus waitWritable(SteadyDeadline deadline) override;
    WaitStatus waitUntilSent(SteadyDeadline deadline) override;
    void interruptWrite() override { writeWake_.signal(); }

    bool deviceLost() const override { return lost_.load(); }

  private:
    void setModemLine(int line, bool on) const {
        // Pseudo-terminals and some adapters have no modem lines (ENOTTY).
        ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line);
    }
    // Moves what the device holds into inputQueue_; inputMutex_ held.
    // Returns the event bits it added.
    std::uint32_t pullInputLocked();
    std::uint32_t errorsFromCountersLocked();
    void markLostLocked() {
        lost_.store(true);
        pendingEvents_ |= CommEvents::kError;
    }
    // After a pull on a thread other than the receive thread: make the
    // receive thread see the events.
    void wakeWaiterIf(std::uint32_t addedEvents) {
        if (addedEvents != 0) {
            eventWake_.signal();
        }
    }

    int fd_ = -1;
    WakePipe eventWake_;
    WakePipe writeWake_;
    std::atomic<bool> lost_{false};
    std::atomic<bool> waitInterrupted_{false};

    mutable std::mutex inputMutex_;  // everything below
    std::deque<std::uint8_t> inputQueue_;
    ParmrkDecoder decoder_;
    std::uint32_t pendingEvents_ = 0;
    std::uint32_t eventMask_ = 0;
    std::uint32_t errorBits_ = 0;
    std::uint32_t markedErrorBit_ = CommErrors::kFrame;  // for a marked byte
    bool parityChecked_ = false;
    bool countersSupported_ = true;
    serial_icounter_struct lastCounters_{};
    CommTimeouts timeouts_;
};

std::error_code PosixPortBackend::open(const std::string& devicePath) {
    if (devicePath.empty()) {
        return std::make_error_code(std::errc::no_such_file_or_directory);
    }
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {errno, std::generic_category()};
    }
    std::error_code failure;
    if (!::isatty(fd)) {
        failure = std::make_error_code(std::errc::inappropriate_io_control_operation);
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        failure = errno == EWOULDBLOCK ? std::make_error_code(std::errc::device_or_resource_busy)
                                       : std::error_code(errno, std::generic_category());
    } else if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        failure = {errno, std::generic_category()};
    }
    if (!failure) {
        failure = eventWake_.create();
    }
    if (!failure) {
        failure = writeWake_.create();
    }
    if (failure) {
        ::close(fd);
        return failure;
    }
    fd_ = fd;
    std::lock_guard lock(inputMutex_);
    countersSupported_ = ::ioctl(fd_, TIOCGICOUNT, &lastCounters_) == 0;
    return {};
}

void PosixPortBackend::close() {
    if (fd_ < 0) {
        return;
    }
    ::ioctl(fd_, TIOCNXCL);  // the exclusive flag can outlive our descriptor
    ::close(fd_);
    fd_ = -1;
}

bool PosixPortBackend::getState(CommState& state) {
    termios settings{};
    if (::tcgetattr(fd_, &settings) != 0) {
        return false;
    }
    state.baudRate = BitRateFor(::cfgetospeed(&settings));
    switch (settings.c_cflag & CSIZE) {
        case CS5:
            state.byteSize = 5;
            break;
        case CS6:
            state.byteSize = 6;
            break;
        case CS7:
            state.byteSize = 7;
            break;
        default:
            state.byteSize = 8;
            break;
    }
    state.parity = (settings.c_cflag & PARENB) == 0 ? 0 : (settings.c_cflag & PARODD) != 0 ? 1 : 2;
    state.stopBits = (settings.c_cflag & CSTOPB) != 0 ? 2 : 0;
    std::uint32_t flags = CommFlags::kBinary;
    if ((settings.c_iflag & INPCK) != 0) {
        flags |= CommFlags::kParityCheck;
    }
    if ((settings.c_cflag & CRTSCTS) != 0) {
        flags |= CommFlags::kCtsOutFlow | CommFlags::kRtsHandshake;
    }
    if ((settings.c_iflag & IXON) != 0) {
        flags |= CommFlags::kXonXoffOut;
    }
    if ((settings.c_iflag & IXOFF) != 0) {
        flags |= CommFlags::kXonXoffIn;
    }
    int lines = TIOCM_DTR | TIOCM_RTS;  // what a device without modem lines acts like
    ::ioctl(fd_, TIOCMGET, &lines);
    if ((lines & TIOCM_DTR) != 0) {
        flags |= CommFlags::kDtrOn;
    }
    if ((lines & TIOCM_RTS) != 0 && (flags & CommFlags::kRtsMask) == 0) {
        flags |= CommFlags::kRtsOn;
    }
    state.flags = flags;
    state.xonChar = settings.c_cc[VSTART];
    state.xoffChar = settings.c_cc[VSTOP];
    return true;
}

bool PosixPortBackend::setState(const CommState& state) {
    const std::optional<speed_t> speed = SpeedFor(state.baudRate);
    constexpr std::array<tcflag_t, 4> kCharSizes{CS5, CS6, CS7, CS8};
    if (!speed || state.byteSize < 5 || state.byteSize > 8 || state.parity > 2 ||
        state.stopBits > 2) {
        return false;
    }
    termios settings{};
    if (::tcgetattr(fd_, &settings) != 0) {
        return false;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    settings.c_cflag |= CREAD | CLOCAL | kCharSizes[state.byteSize - 5];
    if (state.parity != 0) {
        settings.c_cflag |= PARENB | (state.parity == 1 ? PARODD : 0);
    }
    if (state.stopBits != 0) {
        settings.c_cflag |= CSTOPB;  // 1.5 stop bits: two is the nearest termios has
    }
    // Errors and breaks are always marked in the data (PARMRK) so that they
    // can be reported; whether parity errors count follows the parity flag.
    settings.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | ISTRIP | IXON | IXOFF | IXANY);
    settings.c_iflag |= PARMRK | INPCK;
    if ((state.flags & CommFlags::kXonXoffOut) != 0) {
        settings.c_iflag |= IXON;
    }
    if ((state.flags & CommFlags::kXonXoffIn) != 0) {
        settings.c_iflag |= IXOFF;
    }
    const bool rtsHandshake = (state.flags & CommFlags::kRtsMask) == CommFlags::kRtsHandshake;
    if ((state.flags & CommFlags::kCtsOutFlow) != 0 || rtsHandshake) {
        settings.c_cflag |= CRTSCTS;
    }
    settings.c_cc[VSTART] = state.xonChar;
    settings.c_cc[VSTOP] = state.xoffChar;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, *speed) != 0 || ::cfsetospeed(&settings, *speed) != 0 ||
        ::tcsetattr(fd_, TCSANOW, &settings) != 0) {
        return false;
    }

    // DTR handshake has no termios form; the line is simply kept up.
    setModemLine(TIOCM_DTR, (state.flags & CommFlags::kDtrMask) != 0);
    const std::uint32_t rts = state.flags & CommFlags::kRtsMask;
    if (rts == 0 || rts == CommFlags::kRtsOn) {
        setModemLine(TIOCM_RTS, rts == CommFlags::kRtsOn);
    }

    std::lock_guard lock(inputMutex_);
    parityChecked_ = state.parity != 0 && (state.flags & CommFlags::kParityCheck) != 0;
    markedErrorBit_ = parityChecked_ ? CommErrors::kParity : CommErrors::kFrame;
    return true;
}

void PosixPortBackend::purgeInput() {
    std::lock_guard lock(inputMutex_);
    const bool wasFull = inputQueue_.size() >= kInputQueueLimit;
    ::tcflush(fd_, TCIFLUSH);
    inputQueue_.clear();
    decoder_.reset();
    if (wasFull) {
        eventWake_.signal();  // the receive thread may watch the device again
    }
}

std::uint32_t PosixPortBackend::errorsFromCountersLocked() {
    if (!countersSupported_) {
        return 0;
    }
    serial_icounter_struct counters{};
    if (::ioctl(fd_, TIOCGICOUNT, &counters) != 0) {
        countersSupported_ = false;
        return 0;
    }
    std::uint32_t errors = 0;
    if (counters.frame != lastCounters_.frame) {
        errors |= CommErrors::kFrame;
    }
    if (counters.parity != lastCounters_.parity && parityChecked_) {
        errors |= CommErrors::kParity;
    }
    if (counters.overrun != lastCounters_.overrun ||
        counters.buf_overrun != lastCounters_.buf_overrun) {
        errors |= CommErrors::kOverrun;
    }
    lastCounters_ = counters;
    return errors;
}

std::uint32_t PosixPortBackend::pullInputLocked() {
    if (fd_ < 0 || lost_.load()) {
        return 0;
    }
    std::uint32_t added = 0;
    int markedErrors = 0;
    std::array<std::uint8_t, 4096> chunk{};
    while (inputQueue_.size() < kInputQueueLimit) {
        const ssize_t got = ::read(fd_, chunk.data(), chunk.size());
        if (got > 0) {
            const std::size_t before = inputQueue_.size();
            const ParmrkDecoder::Marks marks =
                decoder_.decode(chunk.data(), static_cast<std::size_t>(got), inputQueue_);
            if (inputQueue_.size() != before) {
                added |= CommEvents::kRxChar;
            }
            if (marks.breaks > 0) {
                added |= CommEvents::kBreak;
            }
            markedErrors += marks.errorBytes;
            // A terminal hands over all it holds: a short read drained it,
            // and asking again would only return EAGAIN.
            if (static_cast<std::size_t>(got) < chunk.size()) {
                break;
            }
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        // End of file on a terminal is a hang-up; other errors mean the
        // device is gone too (EIO when a pseudo-terminal's peer closed).
        if (got == 0 || IsDeviceGone(errno)) {
            markLostLocked();
            added |= CommEvents::kError;
        }
        break;
    }
    std::uint32_t errors = errorsFromCountersLocked();
    if (markedErrors > 0 && errors == 0) {
        errors = markedErrorBit_;
    }
    if (errors != 0) {
        errorBits_ |= errors;
        added |= CommEvents::kError;
    }
    pendingEvents_ |= added;
    return added;
}

CommStatus PosixPortBackend::clearCommError() {
    std::lock_guard lock(inputMutex_);
    wakeWaiterIf(pullInputLocked());
    CommStatus status;
    status.errors = std::exchange(errorBits_, 0);
    status.inQueue = static_cast<int>(inputQueue_.size());
    return status;
}

std::uint32_t PosixPortBackend::takeGatheredErrors() {
    std::lock_guard lock(inputMutex_);
    return std::exchange(errorBits_, 0);
}

int PosixPortBackend::read(std::uint8_t* buffer, int count) {
    std::lock_guard lock(inputMutex_);
    if (count <= 0) {
        return 0;
    }
    if (inputQueue_.size() < static_cast<std::size_t>(count)) {
        wakeWaiterIf(pullInputLocked());
    }
    if (inputQueue_.empty() && lost_.load()) {
        return -1;
    }
    const bool wasFull = inputQueue_.size() >= kInputQueueLimit;
    const auto taken = std::min(inputQueue_.size(), static_cast<std::size_t>(count));
    std::copy_n(inputQueue_.begin(), taken, buffer);
    inputQueue_.erase(inputQueue_.begin(), inputQueue_.begin() + static_cast<long>(taken));
    if (wasFull) {
        eventWake_.signal();
    }
    return static_cast<int>(taken);
}

std::uint32_t PosixPortBackend::waitCommEvent() {
    for (;;) {
        bool watchDevice = false;
        {
            std::lock_guard lock(inputMutex_);
            const std::uint32_t events = std::exchange(pendingEvents_, 0) & eventMask_;
            if (events != 0) {
                return events;
            }
            // A gone device would report POLLHUP for ever, a full queue
            // POLLIN: leave the device out of the poll then.
            watchDevice = !lost_.load() && inputQueue_.size() < kInputQueueLimit;
        }
        if (waitInterrupted_.exchange(false)) {
            return 0;
        }
        std::array<pollfd, 2> fds{{
            {eventWake_.readFd(), POLLIN, 0},
            {watchDevice ? fd_ : -1, POLLIN, 0},
        }};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            continue;  // EINTR
        }
        if (fds[0].revents != 0) {
            eventWake_.drain();
        }
        if (fds[1].revents != 0) {
            std::lock_guard lock(inputMutex_);
            pullInputLocked();
        }
    }
}

WriteResult PosixPortBackend::write(std::span<const std::span<const std::uint8_t>> pieces) {
    if (lost_.load()) {
        return {WriteStatus::Failed, 0};
    }
    std::array<iovec, kMaxPiecesPerWrite> vectors{};
    const std::size_t used = std::min(pieces.size(), vectors.size());
    for (std::size_t i = 0; i < used; ++i) {
        vectors[i].iov_base = const_cast<std::uint8_t*>(pieces[i].data());
        vectors[i].iov_len = pieces[i].size();
    }
    for (;;) {
        const ssize_t written = ::writev(fd_, vectors.data(), static_cast<int>(used));
        if (written >= 0) {
            return {WriteStatus::Written, static_cast<std::size_t>(written)};
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return {WriteStatus::Written, 0};
        }
        if (IsDeviceGone(errno)) {
            std::lock_guard lock(inputMutex_);
            markLostLocked();
            eventWake_.signal();
        }
        return {WriteStatus::Failed, 0};
    }
}

WaitStatus PosixPortBackend::waitWritable(SteadyDeadline deadline) {
    for (;;) {
        if (lost_.load()) {
            return WaitStatus::Failed;
        }
        std::array<pollfd, 2> fds{{
            {writeWake_.readFd(), POLLIN, 0},
            {fd_, POLLOUT, 0},
        }};
        const int ready = ::poll(fds.data(), fds.size(), PollTimeoutMs(deadline));
        if (ready < 0) {
            continue;  // EINTR
        }
        if (fds[0].revents != 0) {
            writeWake_.drain();
            return WaitStatus::Interrupted;
        }
        if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            std::lock_guard lock(inputMutex_);
            markLostLocked();
            eventWake_.signal();
            return WaitStatus::Failed;
        }
        if ((fds[1].revents & POLLOUT) != 0) {
            return WaitStatus::Ready;
        }
        if (ready == 0) {
            return WaitStatus::TimedOut;
        }
    }
}

WaitStatus PosixPortBackend::waitUntilSent(SteadyDeadline deadline) {
    constexpr int kStepMs = 1;
    for (;;) {
        int queued = 0;
        if (lost_.load() || ::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) {
            return WaitStatus::Ready;  // nothing left, or nothing we can know
        }
        if (deadline && Clock::now() >= *deadline) {
            return WaitStatus::TimedOut;
        }
        pollfd wake{writeWake_.readFd(), POLLIN, 0};
        if (::poll(&wake, 1, kStepMs) > 0) {
            writeWake_.drain();
            return WaitStatus::Interrupted;
        }
    }
}

}  // namespace

std::unique_ptr<PortBackend> MakeSystemPortBackend() {
    return std::make_unique<PosixPortBackend>();
}

}  // namespace qrb
