// TCommX: the serial port component.
//
// One object owns one COM port on behalf of the thread that created it (the
// owner thread, normally the GUI thread). Its properties hold the line
// settings; Open applies them to the device and starts two worker threads: a
// transmit thread that writes the blocks Send queues, and a receive thread
// that waits for line events. Line events come back to the owner thread and
// reach the owner through OnReceive, OnBreak and OnError, which are plain
// std::function members called synchronously on the owner thread from its
// event loop (or from the event processing inside Send and Receive), never
// on a worker thread. While the port is closed a setter only stores its
// value; while it is open the value is applied at once. Port failures raise
// ECommError; line errors are only ever reported through OnError.
//
// A device that goes away while open (adapter unplugged, the peer of a
// pseudo-terminal closed) is reported once through OnError with ErrorState
// 8 (framing error); afterwards writes are dropped, Receive returns what was
// still queued and then -1, and the component can be closed and reopened.
#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "serial/ComPortNames.h"
#include "serial/CommSession.h"
#include "serial/CommTypes.h"
#include "serial/PortBackend.h"

namespace qrb {

class TCustomCommX;
class CommNotifier;
class TCommTransThread;
class TCommReceiveThread;

using TCommReceiveEvent = std::function<void(TCustomCommX* Sender, int ReceiveSize)>;
using TCommBreakEvent = std::function<void(TCustomCommX* Sender)>;
using TCommErrEvent = std::function<void(TCustomCommX* Sender, int ErrorState)>;

// How a component reaches its port. The defaults are the real ones; tests
// pass a fake backend, a device path of their own or shorter fixed waits.
struct CommXOptions {
    PortBackendFactory makeBackend = MakeSystemPortBackend;
    std::function<std::string(int portNo)> devicePathFor = ComPortDevicePath;
    CommFixedWaits waits;
    // Blocks the transmit thread's queue holds before a hand-over fails.
    std::size_t handOverCapacity = 10000;
};

class TCustomCommX : public QObject {
  public:
    static constexpr std::uint32_t kInvalidHandle = 0xFFFFFFFF;
    static constexpr int kMaxOutstandingBlocks = 32;
    static constexpr std::uint32_t kOpenControlWord = 0x1011;   // binary, DTR on, RTS on
    static constexpr std::uint32_t kCloseControlWord = 0x1001;  // binary, RTS on, DTR off

    explicit TCustomCommX(QObject* owner = nullptr, CommXOptions options = {});
    ~TCustomCommX() override;
    TCustomCommX(const TCustomCommX&) = delete;
    TCustomCommX& operator=(const TCustomCommX&) = delete;

    // Opens the device of PortNo, applies every setting and starts the
    // threads; raises ECommError.
    void Open();
    // Stops the threads and releases the port; nothing when it is closed.
    void Close();
    // Queues count bytes in blocks of at most BufLenTrans; false only when
    // the port is closed (also when it closes while Send waits for room).
    virtual bool Send(const void* buffer, int count);
    // Reads up to count received bytes; the number read, or -1.
    virtual int Receive(void* buffer, int count);
    bool SendByte(std::uint8_t value);
    // SendByte for each of count bytes, one block per byte, except that the
    // transmit thread is woken once the bytes are queued (or when Send has to
    // wait for room) rather than for every byte: a frame sent byte by byte
    // then costs a few hand-overs instead of one per byte.
    bool SendEach(const void* buffer, int count);
    // Discards every queued block and the output queue; returns when all
    // blocks have been freed.
    void PurgeTransmit();
    void PurgeReceive();
    // Bytes waiting to be read (0 when closed); clears the line errors.
    int InQueueCount();

    bool IsOpen() const { return session_ != nullptr && portHeld_; }
    // Why the last Open could not open the device (e.g. permission_denied
    // for a user without access to serial ports); empty after a good open.
    std::error_code LastOpenError() const { return lastOpenError_; }
    // The transmit thread's character time plus one in ms; 0 while closed.
    int CharDelay() const;
    // 1000 / (bitRate / 10) + 1 in whole milliseconds; -1 below 10 bit/s.
    static int CharDelayFor(int bitRate);
    // The line settings record as last edited (also after Close).
    const CommState& StoredLineSettings() const { return state_; }
    int PendingBytes() const;
    int PendingBlocks() const;

  protected:
    int PortNo() const { return portNo_; }
    void setPortNo(int value);
    int BitRate() const { return bitRate_; }
    void setBitRate(int value);
    int CharSize() const { return charSize_; }
    void setCharSize(int value);
    TCommParityBits ParityBit() const { return parityBit_; }
    void setParityBit(TCommParityBits value);
    TCommStopBits StopBit() const { return stopBit_; }
    void setStopBit(TCommStopBits value);
    TCommFlowCtrls FlowCtrl() const { return flowCtrl_; }
    void setFlowCtrl(TCommFlowCtrls value);
    int TimeOutTrans() const { return timeOutTrans_; }
    void setTimeOutTrans(int value);
    int TimeOutReceive() const { return timeOutReceive_; }
    void setTimeOutReceive(int value);
    std::uint8_t XonChar() const { return xonChar_; }
    void setXonChar(std::uint8_t value);
    std::uint8_t XoffChar() const { return xoffChar_; }
    void setXoffChar(std::uint8_t value);
    int BufLenTrans() const { return bufLenTrans_; }
    void setBufLenTrans(int value);
    int BufLenReceive() const { return bufLenReceive_; }
    void setBufLenReceive(int value);
    std::uint32_t Handle() const;

    TCommReceiveEvent OnReceive;
    TCommBreakEvent OnBreak;
    TCommErrEvent OnError;

  private:
    // Each writes its field of the line settings and applies them.
    void applyBitRate();
    void applyCharSize();
    void applyParityBit();
    void applyStopBit();
    void applyFlowCtrl();
    void applyTimeouts();
    void applyXonChar();
    void applyXoffChar();
    void applyQueueSizes();
    void applyState(const char* failureText);
    void startThreads();
    void stopThreadsAndReleasePort();
    void dispatch(CommNotice notice, std::int32_t parameter, std::uint64_t session);
    // Receive's own line error report, handled before Receive returns.
    void reportLineErrorsNow();
    void sleepFor(std::chrono::milliseconds duration) const;
    enum class WakeTransmitThread { ForEachBlock, OnceQueued };
    // Send's loop: blocks of at most blockSize bytes, waiting for room while
    // 32 are outstanding. With OnceQueued the caller wakes the thread.
    bool queueBlocks(const void* buffer, int count, int blockSize, WakeTransmitThread wake);

    CommXOptions options_;

    int portNo_ = 1;
    int bitRate_ = 9600;
    int charSize_ = 8;
    TCommParityBits parityBit_ = TCommParityBits::cpbNone;
    TCommStopBits stopBit_ = TCommStopBits::csb1;
    TCommFlowCtrls flowCtrl_ = TCommFlowCtrls::cfcRtsCts;
    int timeOutTrans_ = 3000;
    int timeOutReceive_ = 3000;
    std::uint8_t xonChar_ = 17;
    std::uint8_t xoffChar_ = 19;
    int bufLenTrans_ = 2048;
    int bufLenReceive_ = 2048;

    CommState state_;
    std::error_code lastOpenError_;
    std::unique_ptr<CommNotifier> notifier_;
    std::uint64_t sessionCount_ = 0;
    std::unique_ptr<CommSession> session_;
    bool portHeld_ = false;  // the device is open (false again once Close released it)
    std::unique_ptr<TCommTransThread> transThread_;
    std::unique_ptr<TCommReceiveThread> receiveThread_;
};

// The component with its properties and events public.
class TCommX : public TCustomCommX {
  public:
    using TCustomCommX::TCustomCommX;

    using TCustomCommX::BitRate;
    using TCustomCommX::BufLenReceive;
    using TCustomCommX::BufLenTrans;
    using TCustomCommX::CharSize;
    using TCustomCommX::FlowCtrl;
    using TCustomCommX::Handle;
    using TCustomCommX::OnBreak;
    using TCustomCommX::OnError;
    using TCustomCommX::OnReceive;
    using TCustomCommX::ParityBit;
    using TCustomCommX::PortNo;
    using TCustomCommX::setBitRate;
    using TCustomCommX::setBufLenReceive;
    using TCustomCommX::setBufLenTrans;
    using TCustomCommX::setCharSize;
    using TCustomCommX::setFlowCtrl;
    using TCustomCommX::setParityBit;
    using TCustomCommX::setPortNo;
    using TCustomCommX::setStopBit;
    using TCustomCommX::setTimeOutReceive;
    using TCustomCommX::setTimeOutTrans;
    using TCustomCommX::setXoffChar;
    using TCustomCommX::setXonChar;
    using TCustomCommX::StopBit;
    using TCustomCommX::TimeOutReceive;
    using TCustomCommX::TimeOutTrans;
    using TCustomCommX::XoffChar;
    using TCustomCommX::XonChar;
};

}  // namespace qrb
