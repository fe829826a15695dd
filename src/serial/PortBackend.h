// The serial device as the serial component sees it.
//
// The component keeps the line settings and the logic; a backend is the thin
// layer over one operating system's serial API: open a device, apply a line
// settings record, purge, count and read what arrived, write, and wait for
// line events. One backend object serves one open of one port and is used by
// the owner thread and the component's two worker threads at once, so every
// operation below is safe to call from any thread unless it says otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>

namespace qrb {

// Control-line word bits of CommState::flags.
namespace CommFlags {
inline constexpr std::uint32_t kBinary = 0x0001;
inline constexpr std::uint32_t kParityCheck = 0x0002;
inline constexpr std::uint32_t kCtsOutFlow = 0x0004;
inline constexpr std::uint32_t kDsrOutFlow = 0x0008;
inline constexpr std::uint32_t kDtrMask = 0x0030;  // 0 off, 0x10 on, 0x20 handshake
inline constexpr std::uint32_t kDtrOn = 0x0010;
inline constexpr std::uint32_t kXonXoffOut = 0x0100;
inline constexpr std::uint32_t kXonXoffIn = 0x0200;
inline constexpr std::uint32_t kRtsMask = 0x3000;  // 0 off, 0x1000 on, 0x2000 handshake
inline constexpr std::uint32_t kRtsOn = 0x1000;
inline constexpr std::uint32_t kRtsHandshake = 0x2000;
}  // namespace CommFlags

// Line events a backend reports (the event mask bits).
namespace CommEvents {
inline constexpr std::uint32_t kRxChar = 0x01;
inline constexpr std::uint32_t kBreak = 0x40;
inline constexpr std::uint32_t kError = 0x80;
inline constexpr std::uint32_t kAll = kRxChar | kBreak | kError;  // 0xC1
}  // namespace CommEvents

// Error word bits of clearCommError(); the component passes on only kLineErrorMask.
namespace CommErrors {
inline constexpr std::uint32_t kOverrun = 0x02;
inline constexpr std::uint32_t kParity = 0x04;
inline constexpr std::uint32_t kFrame = 0x08;
inline constexpr std::uint32_t kLineErrorMask = 0x0E;
}  // namespace CommErrors

// The line settings record the component edits field by field.
struct CommState {
    std::uint32_t baudRate = 0;  // bit/s
    std::uint8_t byteSize = 8;   // data bits
    std::uint8_t parity = 0;     // 0 none, 1 odd, 2 even
    std::uint8_t stopBits = 0;   // 0 one, 1 one and a half, 2 two
    std::uint32_t flags = 0;     // control-line word, see CommFlags
    std::uint16_t xonLimit = 0;
    std::uint16_t xoffLimit = 0;
    std::uint8_t xonChar = 17;
    std::uint8_t xoffChar = 19;

    bool operator==(const CommState&) const = default;
};

// Read and write time-outs in milliseconds; 0xFFFFFFFF read interval means
// "return what is there". A total of 0 (constant and multiplier) means none.
struct CommTimeouts {
    std::uint32_t readIntervalMs = 0;
    std::uint32_t readTotalMultiplierMs = 0;
    std::uint32_t readTotalConstantMs = 0;
    std::uint32_t writeTotalMultiplierMs = 0;
    std::uint32_t writeTotalConstantMs = 0;

    bool operator==(const CommTimeouts&) const = default;
};

struct CommStatus {
    std::uint32_t errors = 0;  // CommErrors bits since the last call
    int inQueue = 0;           // bytes waiting to be read
};

enum class WriteStatus {
    Written,  // some bytes (possibly fewer than asked, possibly none) were taken
    Failed,   // the device refused the write
};

struct WriteResult {
    WriteStatus status = WriteStatus::Written;
    std::size_t written = 0;
};

enum class WaitStatus {
    Ready,        // the device can take more bytes
    Interrupted,  // interruptWrite() or purgeOutput() was called
    TimedOut,     // the deadline passed
    Failed,       // the device is gone or broken
};

using SteadyDeadline = std::optional<std::chrono::steady_clock::time_point>;

class PortBackend {
  public:
    virtual ~PortBackend() = default;

    // Opens the device exclusively and without blocking. Owner thread only.
    virtual std::error_code open(const std::string& devicePath) = 0;
    // Releases the device; the object may then only be destroyed. Owner thread
    // only, and only once no worker uses the backend any more.
    virtual void close() = 0;
    // A number identifying the open device (0xFFFFFFFF when closed).
    virtual std::uint32_t handle() const = 0;

    // Driver queue sizes; false when the sizes are not acceptable.
    virtual bool setupQueues(int inputSize, int outputSize) = 0;
    virtual bool getState(CommState& state) = 0;
    virtual bool setState(const CommState& state) = 0;
    virtual bool setTimeouts(const CommTimeouts& timeouts) = 0;
    virtual CommTimeouts timeouts() const = 0;
    // Which line events waitCommEvent() reports; 0 reports none.
    virtual bool setEventMask(std::uint32_t mask) = 0;
    // Raises or drops RTS; best effort, devices without the line ignore it.
    virtual void setRts(bool on) = 0;

    // Discards the output queue and interrupts a waiting writer.
    virtual void purgeOutput() = 0;
    // Discards everything received and not yet read.
    virtual void purgeInput() = 0;

    // Takes the error bits gathered so far (clearing them) and counts the
    // bytes waiting.
    virtual CommStatus clearCommError() = 0;
    // The same error bits for a caller that has just looked at the device:
    // a backend may then skip looking again.
    virtual std::uint32_t takeGatheredErrors() { return clearCommError().errors; }
    // Copies up to count waiting bytes without waiting; the number copied,
    // or -1 when nothing is waiting and the device has failed.
    virtual int read(std::uint8_t* buffer, int count) = 0;

    // Blocks until a line event of the mask happened (returns its bits) or
    // interruptWait() was called (returns 0). Receive thread only.
    virtual std::uint32_t waitCommEvent() = 0;
    virtual void interruptWait() = 0;

    // Writes as much of the pieces, in order, as the device takes now.
    // Transmit thread only.
    virtual WriteResult write(std::span<const std::span<const std::uint8_t>> pieces) = 0;
    // Waits until the device can take more bytes. Transmit thread only.
    virtual WaitStatus waitWritable(SteadyDeadline deadline) = 0;
    // Waits until the bytes written so far have left the device (for the
    // half-duplex RTS bursts). Transmit thread only.
    virtual WaitStatus waitUntilSent(SteadyDeadline deadline) = 0;
    // Makes a current or the next waitWritable()/waitUntilSent() return.
    virtual void interruptWrite() = 0;

    // True once the device has gone away (unplugged, peer closed).
    virtual bool deviceLost() const = 0;
};

using PortBackendFactory = std::function<std::unique_ptr<PortBackend>()>;

// The backend of the platform the program was built for.
std::unique_ptr<PortBackend> MakeSystemPortBackend();

}  // namespace qrb
