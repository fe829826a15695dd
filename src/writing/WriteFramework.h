// The receive framework of the write run and the operations that every
// target procedure shares: the receive buffer and its count, the receive
// time-out, waiting for a reply, check bytes, the end command and the
// closing sequence after a successful transfer.
//
// One instance lives for one write dialog. It is the line's event sink: the
// line calls lineReceived() (CommXReceive) and receiveTimerFired()
// (tmrRcvTimeOutTimer) from inside its event passes.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "writing/Line.h"
#include "writing/SharedState.h"
#include "writing/StepResult.h"
#include "writing/WriteHost.h"

namespace qrb {

inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t NAK = 0x15;

class WriteFramework : public LineEvents {
  public:
    static constexpr int kReceiveBufferSize = 2048;

    WriteFramework(Line& line, WriteHost& host, SharedState& state);
    WriteFramework(const WriteFramework&) = delete;
    WriteFramework& operator=(const WriteFramework&) = delete;
    virtual ~WriteFramework();

    Line& line() { return line_; }
    WriteHost& host() { return host_; }
    SharedState& state() { return state_; }

    // Bytes received since ReceivedCount was last set to 0, in arrival
    // order; counting goes on beyond the buffer, bytes beyond it are dropped.
    std::array<std::uint8_t, kReceiveBufferSize> ReceiveBuffer{};
    int ReceivedCount = 0;
    bool ReplyTimedOut = false;
    std::string ChecksumText;     // image checksum of the last transfer
    std::string CpuChecksumText;  // the option unit's own sum

    // The receive timer as a step that talks to the radio arms it first.
    static constexpr std::chrono::milliseconds kStepTimer{5000};
    // A step's start: ReplyTimedOut cleared, the timer armed with kStepTimer.
    void StartStep();

    // Sends a command and waits for its answer, up to maxSends times, the
    // way a step does that may send again: StartStep() before the first
    // send, ReplyTimedOut cleared again before each further one. attempt
    // sends once and waits; it gives the step's result, or nothing to send
    // again. Failed when the last send, too, gave nothing.
    template <class Attempt>
    StepResult SendUpTo(int maxSends, Attempt attempt);

    // tmrRcvTimeOut: disable, set the interval, enable. It fires once.
    void ArmReceiveTimer(std::chrono::milliseconds interval);
    void DisableReceiveTimer();

    // True when ReceivedCount reached count before the time-out. timeout
    // limits the silence before the first arrival; every arrival re-arms the
    // timer with kSilenceAfterArrival.
    bool WaitForReply(int count, std::chrono::milliseconds timeout);
    static constexpr std::chrono::milliseconds kSilenceAfterArrival{5000};

    void SendByte(std::uint8_t value);
    void SendBytes(std::initializer_list<std::uint8_t> bytes);
    void SendBytes(const std::uint8_t* bytes, int count);
    void Sleep(std::chrono::milliseconds duration);
    void ProcessMessages();  // one pass over the pending events
    void ClosePort();

    // 38 01 39 with 2 ms after each byte; waits for the echo.
    bool SendEndCommand();
    void ShowStatusLamp(StatusLamp lamp);

    // The closing sequence after a successful transfer: end command, port
    // closed, bars hidden, green lamp, dialog hidden, textBefore followed by
    // the completion text in the instruction label, "Ok ?"; OK sets
    // StopRequested and ends the run.
    void FinishSuccessfulWrite(const std::string& textBefore);

    // Sum of the first count bytes modulo 256 (0 for count <= 0).
    static std::uint8_t ByteSum(const std::uint8_t* bytes, int count);

    // LineEvents
    void lineReceived(int receiveSize) override;  // CommXReceive
    void receiveTimerFired() override;            // tmrRcvTimeOutTimer

  private:
    Line& line_;
    WriteHost& host_;
    SharedState& state_;
};

template <class Attempt>
StepResult WriteFramework::SendUpTo(int maxSends, Attempt attempt) {
    StartStep();
    for (int sends = 1;; ++sends) {
        if (const std::optional<StepResult> result = attempt())
            return *result;
        if (sends >= maxSends)
            return StepResult::Failed;
        ReplyTimedOut = false;
    }
}

}  // namespace qrb
