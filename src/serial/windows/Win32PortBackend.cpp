// The port backend on the Win32 communications API.
//
// The device "\\.\COM<n>" is opened without sharing and for overlapped I/O,
// so the receive thread can wait for line events while the transmit thread
// writes. The driver does the work the POSIX backend does by hand: it keeps
// the input queue, counts line errors (ClearCommError) and ends a write when
// the write time-out runs out. A write is started under the component's
// write lock and waited for outside it (waitWritable), so that a purge can
// abort it; the bytes a finished write took are collected by the next
// write() call, which the transmit thread makes with the same pieces.
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "serial/PortBackend.h"

namespace qrb {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kInvalidHandle = 0xFFFFFFFF;
constexpr DWORD kPurgeOutput = PURGE_TXABORT | PURGE_TXCLEAR;  // 0x05
constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;   // 0x0A

// Errors after which the handle is of no further use (the adapter was
// unplugged, or the driver gave up on the device).
bool IsDeviceGone(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_BAD_COMMAND ||
           error == ERROR_INVALID_HANDLE || error == ERROR_DEVICE_NOT_CONNECTED ||
           error == ERROR_GEN_FAILURE || error == ERROR_FILE_NOT_FOUND;
}

// The control-line word (CommFlags) is the DCB's flags word bit for bit.
void PutControlWord(DCB& dcb, std::uint32_t flags) {
    dcb.fBinary = flags & 0x0001u;
    dcb.fParity = (flags >> 1) & 1u;
    dcb.fOutxCtsFlow = (flags >> 2) & 1u;
    dcb.fOutxDsrFlow = (flags >> 3) & 1u;
    dcb.fDtrControl = (flags >> 4) & 3u;
    dcb.fDsrSensitivity = (flags >> 6) & 1u;
    dcb.fTXContinueOnXoff = (flags >> 7) & 1u;
    dcb.fOutX = (flags >> 8) & 1u;
    dcb.fInX = (flags >> 9) & 1u;
    dcb.fErrorChar = (flags >> 10) & 1u;
    dcb.fNull = (flags >> 11) & 1u;
    dcb.fRtsControl = (flags >> 12) & 3u;
    dcb.fAbortOnError = (flags >> 14) & 1u;
}

std::uint32_t ControlWordOf(const DCB& dcb) {
    return std::uint32_t{dcb.fBinary} | std::uint32_t{dcb.fParity} << 1 |
           std::uint32_t{dcb.fOutxCtsFlow} << 2 | std::uint32_t{dcb.fOutxDsrFlow} << 3 |
           std::uint32_t{dcb.fDtrControl} << 4 | std::uint32_t{dcb.fDsrSensitivity} << 6 |
           std::uint32_t{dcb.fTXContinueOnXoff} << 7 | std::uint32_t{dcb.fOutX} << 8 |
           std::uint32_t{dcb.fInX} << 9 | std::uint32_t{dcb.fErrorChar} << 10 |
           std::uint32_t{dcb.fNull} << 11 | std::uint32_t{dcb.fRtsControl} << 12 |
           std::uint32_t{dcb.fAbortOnError} << 14;
}

DWORD WaitMsUntil(SteadyDeadline deadline) {
    if (!deadline) {
        return INFINITE;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    return static_cast<DWORD>(
        std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INFINITE - 1));
}

// An unnamed event that closes itself.
class Event {
  public:
    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event() { reset(); }

    bool create(bool manualReset) {
        handle_ = ::CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
        return handle_ != nullptr;
    }
    void reset() {
        if (handle_ != nullptr) {
            ::CloseHandle(handle_);
            handle_ = nullptr;
        }
    }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_ = nullptr;
};

class Win32PortBackend final : public PortBackend {
  public:
    ~Win32PortBackend() override { close(); }

    std::error_code open(const std::string& devicePath) override;
    void close() override;
    std::uint32_t handle() const override {
        return port_ == INVALID_HANDLE_VALUE
                   ? kInvalidHandle
                   : static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(port_));
    }

    bool setupQueues(int inputSize, int outputSize) override {
        return inputSize >= 1 && outputSize >= 1 &&
               ::SetupComm(port_, static_cast<DWORD>(inputSize), static_cast<DWORD>(outputSize));
    }
    bool getState(CommState& state) override;
    bool setState(const CommState& state) override;
    bool setTimeouts(const CommTimeouts& timeouts) override;
    CommTimeouts timeouts() const override {
        std::lock_guard lock(mutex_);
        return timeouts_;
    }
    bool setEventMask(std::uint32_t mask) override { return ::SetCommMask(port_, mask); }
    void setRts(bool on) override { ::EscapeCommFunction(port_, on ? SETRTS : CLRRTS); }

    void purgeOutput() override {
        abandoned_.store(true);
        ::PurgeComm(port_, kPurgeOutput);
        ::SetEvent(writeInterrupt_.get());
    }
    void purgeInput() override { ::PurgeComm(port_, kPurgeInput); }

    CommStatus clearCommError() override;
    int read(std::uint8_t* buffer, int count) override;

    std::uint32_t waitCommEvent() override;
    void interruptWait() override {
        waitInterrupted_.store(true);
        ::SetEvent(wakeEvent_.get());
    }

    WriteResult write(std::span<const std::span<const std::uint8_t>> pieces) override;
    WaitStatus waitWritable(SteadyDeadline deadline) override;
    WaitStatus waitUntilSent(SteadyDeadline deadline) override;
    void interruptWrite() override { ::SetEvent(writeInterrupt_.get()); }

    bool deviceLost() const override { return lost_.load(); }

  private:
    void noteFailure(DWORD error) {
        if (IsDeviceGone(error)) {
            lost_.store(true);
        }
    }
    // Ends the write in progress, if any, and returns what it took.
    WriteResult collectWrite(bool wait);

    HANDLE port_ = INVALID_HANDLE_VALUE;
    Event readEvent_;       // manual reset, the event of readOverlapped_
    Event wakeEvent_;       // auto reset, the event of WaitCommEvent
    Event writeEvent_;      // manual reset, the event of writeOverlapped_
    Event writeInterrupt_;  // auto reset: purge or stop
    OVERLAPPED readOverlapped_{};
    OVERLAPPED waitOverlapped_{};
    OVERLAPPED writeOverlapped_{};
    DWORD eventMask_ = 0;  // written by the driver while a wait is pending
    std::atomic<bool> lost_{false};
    std::atomic<bool> waitInterrupted_{false};
    // Set by a purge: the transmit thread drops what it was writing, so the
    // outcome of the write in progress belongs to nobody.
    std::atomic<bool> abandoned_{false};

    // Transmit thread only (and close(), after the thread let go).
    std::vector<std::uint8_t> writeBuffer_;  // the bytes of the write in progress
    bool writePending_ = false;
    bool writeCut_ = false;  // the last write ended early (write time-out)

    mutable std::mutex mutex_;  // the members below
    CommTimeouts timeouts_;
    std::uint32_t errorBits_ = 0;  // gathered by read() for the next clearCommError()
};

std::error_code Win32PortBackend::open(const std::string& devicePath) {
    if (devicePath.empty()) {
        return std::make_error_code(std::errc::no_such_file_or_directory);
    }
    HANDLE port = ::CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return {static_cast<int>(::GetLastError()), std::system_category()};
    }
    if (!readEvent_.create(true) || !wakeEvent_.create(false) || !writeEvent_.create(true) ||
        !writeInterrupt_.create(false)) {
        const std::error_code failure(static_cast<int>(::GetLastError()), std::system_category());
        ::CloseHandle(port);
        return failure;
    }
    readOverlapped_.hEvent = readEvent_.get();
    waitOverlapped_.hEvent = wakeEvent_.get();
    writeOverlapped_.hEvent = writeEvent_.get();
    port_ = port;
    COMMTIMEOUTS current{};
    if (::GetCommTimeouts(port_, &current)) {
        timeouts_ = {current.ReadIntervalTimeout, current.ReadTotalTimeoutMultiplier,
                     current.ReadTotalTimeoutConstant, current.WriteTotalTimeoutMultiplier,
                     current.WriteTotalTimeoutConstant};
    }
    return {};
}

void Win32PortBackend::close() {
    if (port_ == INVALID_HANDLE_VALUE) {
        return;
    }
    if (writePending_) {
        // The driver must be done with writeBuffer_ before it goes.
        ::CancelIoEx(port_, &writeOverlapped_);
        collectWrite(true);
    }
    ::CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
    readEvent_.reset();
    wakeEvent_.reset();
    writeEvent_.reset();
    writeInterrupt_.reset();
}

bool Win32PortBackend::getState(CommState& state) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port_, &dcb)) {
        return false;
    }
    state.baudRate = dcb.BaudRate;
    state.byteSize = dcb.ByteSize;
    state.parity = dcb.Parity;
    state.stopBits = dcb.StopBits;
    state.flags = ControlWordOf(dcb);
    state.xonLimit = dcb.XonLim;
    state.xoffLimit = dcb.XoffLim;
    state.xonChar = static_cast<std::uint8_t>(dcb.XonChar);
    state.xoffChar = static_cast<std::uint8_t>(dcb.XoffChar);
    return true;
}

bool Win32PortBackend::setState(const CommState& state) {
    // The fields the component does not keep (error and end-of-file
    // characters) stay as the driver has them.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(port_, &dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = state.baudRate;
    dcb.ByteSize = state.byteSize;
    dcb.Parity = state.parity;
    dcb.StopBits = state.stopBits;
    PutControlWord(dcb, state.flags);
    dcb.XonLim = state.xonLimit;
    dcb.XoffLim = state.xoffLimit;
    dcb.XonChar = static_cast<char>(state.xonChar);
    dcb.XoffChar = static_cast<char>(state.xoffChar);
    return ::SetCommState(port_, &dcb);
}

bool Win32PortBackend::setTimeouts(const CommTimeouts& timeouts) {
    COMMTIMEOUTS record{timeouts.readIntervalMs, timeouts.readTotalMultiplierMs,
                        timeouts.readTotalConstantMs, timeouts.writeTotalMultiplierMs,
                        timeouts.writeTotalConstantMs};
    if (!::SetCommTimeouts(port_, &record)) {
        return false;
    }
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
    return true;
}

CommStatus Win32PortBackend::clearCommError() {
    DWORD errors = 0;
    COMSTAT status{};
    CommStatus result;
    if (::ClearCommError(port_, &errors, &status)) {
        result.inQueue = static_cast<int>(status.cbInQue);
    } else {
        noteFailure(::GetLastError());
    }
    std::lock_guard lock(mutex_);
    result.errors = std::exchange(errorBits_, 0) | errors;
    return result;
}

int Win32PortBackend::read(std::uint8_t* buffer, int count) {
    if (count <= 0) {
        return 0;
    }
    // Only what the driver already holds is asked for, so the read ends at
    // once; the error bits seen on the way are kept for the next report.
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(port_, &errors, &status)) {
        noteFailure(::GetLastError());
        return -1;
    }
    if (errors != 0) {
        std::lock_guard lock(mutex_);
        errorBits_ |= errors;
    }
    const DWORD wanted = std::min(static_cast<DWORD>(count), status.cbInQue);
    if (wanted == 0) {
        return lost_.load() ? -1 : 0;
    }
    DWORD got = 0;
    ::ResetEvent(readEvent_.get());
    if (!::ReadFile(port_, buffer, wanted, &got, &readOverlapped_)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING ||
            !::GetOverlappedResult(port_, &readOverlapped_, &got, TRUE)) {
            noteFailure(error == ERROR_IO_PENDING ? ::GetLastError() : error);
            return -1;
        }
    }
    return static_cast<int>(got);
}

std::uint32_t Win32PortBackend::waitCommEvent() {
    if (waitInterrupted_.exchange(false)) {
        return 0;
    }
    if (lost_.load()) {
        // Nothing more will come; sleep until Close wakes us.
        ::WaitForSingleObject(wakeEvent_.get(), INFINITE);
        waitInterrupted_.store(false);
        return 0;
    }
    eventMask_ = 0;
    if (::WaitCommEvent(port_, &eventMask_, &waitOverlapped_)) {
        return eventMask_;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
        // The device refuses to report events: treat it as gone rather than
        // asking again in a tight loop.
        lost_.store(true);
        return CommEvents::kError;
    }
    ::WaitForSingleObject(wakeEvent_.get(), INFINITE);
    DWORD unused = 0;
    if (waitInterrupted_.exchange(false)) {
        // Woken by interruptWait(): the driver must let go of eventMask_.
        ::SetCommMask(port_, 0);
        ::CancelIoEx(port_, &waitOverlapped_);
        ::GetOverlappedResult(port_, &waitOverlapped_, &unused, TRUE);
        return 0;
    }
    if (!::GetOverlappedResult(port_, &waitOverlapped_, &unused, FALSE)) {
        noteFailure(::GetLastError());
        return lost_.load() ? CommEvents::kError : 0;
    }
    return eventMask_;
}

WriteResult Win32PortBackend::collectWrite(bool wait) {
    DWORD written = 0;
    if (!::GetOverlappedResult(port_, &writeOverlapped_, &written, wait ? TRUE : FALSE)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_INCOMPLETE) {
            return {WriteStatus::Written, 0};
        }
        writePending_ = false;
        if (error == ERROR_OPERATION_ABORTED) {
            return {WriteStatus::Written, written};  // purged
        }
        noteFailure(error);
        return {WriteStatus::Failed, 0};
    }
    writePending_ = false;
    writeCut_ = written < writeBuffer_.size();
    return {WriteStatus::Written, written};
}

WriteResult Win32PortBackend::write(std::span<const std::span<const std::uint8_t>> pieces) {
    if (abandoned_.exchange(false)) {
        if (writePending_) {
            collectWrite(true);  // aborted by the purge: ends at once
        }
        writeCut_ = false;
    }
    if (writePending_) {
        return collectWrite(false);
    }
    if (lost_.load()) {
        return {WriteStatus::Failed, 0};
    }
    writeBuffer_.clear();
    for (const auto& piece : pieces) {
        writeBuffer_.insert(writeBuffer_.end(), piece.begin(), piece.end());
    }
    writeCut_ = false;
    DWORD written = 0;
    ::ResetEvent(writeEvent_.get());
    if (::WriteFile(port_, writeBuffer_.data(), static_cast<DWORD>(writeBuffer_.size()), &written,
                    &writeOverlapped_)) {
        writeCut_ = written < writeBuffer_.size();
        return {WriteStatus::Written, written};
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        writePending_ = true;
        return {WriteStatus::Written, 0};
    }
    noteFailure(error);
    return {WriteStatus::Failed, 0};
}

WaitStatus Win32PortBackend::waitWritable(SteadyDeadline deadline) {
    if (writeCut_) {
        // The driver's write time-out ended the last write: the rest of the
        // block is not sent.
        writeCut_ = false;
        return WaitStatus::TimedOut;
    }
    if (!writePending_) {
        return lost_.load() ? WaitStatus::Failed : WaitStatus::Ready;
    }
    // The driver ends the write itself (done, write time-out or purge);
    // the deadline only matters when the driver has no time-out of its own.
    const std::array<HANDLE, 2> events{writeEvent_.get(), writeInterrupt_.get()};
    const DWORD woke = ::WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(),
                                                FALSE, WaitMsUntil(deadline));
    if (woke == WAIT_OBJECT_0) {
        return WaitStatus::Ready;
    }
    if (woke == WAIT_OBJECT_0 + 1) {
        return WaitStatus::Interrupted;
    }
    if (woke == WAIT_TIMEOUT) {
        ::CancelIoEx(port_, &writeOverlapped_);
        collectWrite(true);
        return WaitStatus::TimedOut;
    }
    return WaitStatus::Failed;
}

WaitStatus Win32PortBackend::waitUntilSent(SteadyDeadline deadline) {
    constexpr DWORD kStepMs = 1;
    if (writePending_ && waitWritable(deadline) != WaitStatus::Ready) {
        return WaitStatus::Interrupted;
    }
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (lost_.load() || !::ClearCommError(port_, &errors, &status) || status.cbOutQue == 0) {
            return WaitStatus::Ready;
        }
        if (errors != 0) {
            std::lock_guard lock(mutex_);
            errorBits_ |= errors;
        }
        if (deadline && Clock::now() >= *deadline) {
            return WaitStatus::TimedOut;
        }
        if (::WaitForSingleObject(writeInterrupt_.get(), kStepMs) == WAIT_OBJECT_0) {
            return WaitStatus::Interrupted;
        }
    }
}

}  // namespace

std::unique_ptr<PortBackend> MakeSystemPortBackend() {
    return std::make_unique<Win32PortBackend>();
}

}  // namespace qrb
