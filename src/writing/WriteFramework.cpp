// The receive framework: how bytes from the radio reach ReceiveBuffer, how
// the receive time-out is armed and how a step waits for its reply.
//
// Bytes and time-outs are only ever seen inside the line's event passes
// (ProcessMessages, WaitForReply, and SendByte when the transmit queue is
// full), so a step may clear ReceivedCount right before it sends and know
// that nothing of the new reply was counted yet.
#include "writing/WriteFramework.h"

#include <algorithm>
#include <chrono>

#include "writing/WriteTexts.h"

namespace qrb {

namespace {

// The end command; the radio only echoes it.
constexpr std::uint8_t kEndCommand[] = {0x38, 0x01, 0x39};
constexpr std::chrono::milliseconds kEndCommandPause{2};
constexpr std::chrono::milliseconds kEndCommandEchoTimeout{500};

// Received bytes are read in chunks of this size, so the receive path needs
// no allocation whatever the arrival's size.
constexpr int kReadChunkSize = 512;

}  // namespace

WriteFramework::WriteFramework(Line& line, WriteHost& host, SharedState& state)
    : line_(line), host_(host), state_(state) {
    line_.setEvents(this);
}

// The line outlives the framework; it must not call into a framework that is
// gone.
WriteFramework::~WriteFramework() {
    line_.setEvents(nullptr);
}

void WriteFramework::StartStep() {
    ReplyTimedOut = false;
    ArmReceiveTimer(kStepTimer);
}

void WriteFramework::ArmReceiveTimer(std::chrono::milliseconds interval) {
    line_.armReceiveTimer(interval);
}

void WriteFramework::DisableReceiveTimer() {
    line_.disableReceiveTimer();
}

bool WriteFramework::WaitForReply(int count, std::chrono::milliseconds timeout) {
    ReplyTimedOut = false;
    ArmReceiveTimer(timeout);
    // waitForEvents() blocks until something happened: an arrival, the
    // time-out, or a click on Cancel.
    while (!ReplyTimedOut && ReceivedCount < count) {
        line_.waitForEvents();
    }
    DisableReceiveTimer();
    return !ReplyTimedOut;
}

void WriteFramework::SendByte(std::uint8_t value) {
    line_.sendByte(value);
}

void WriteFramework::SendBytes(std::initializer_list<std::uint8_t> bytes) {
    line_.sendBytes(bytes.begin(), static_cast<int>(bytes.size()));
}

// Still one send per byte; the line may hand the run to its transmit thread
// in fewer steps.
void WriteFramework::SendBytes(const std::uint8_t* bytes, int count) {
    line_.sendBytes(bytes, count);
}

void WriteFramework::Sleep(std::chrono::milliseconds duration) {
    line_.sleep(duration);
}

void WriteFramework::ProcessMessages() {
    line_.processPendingEvents();
}

void WriteFramework::ClosePort() {
    line_.close();
}

bool WriteFramework::SendEndCommand() {
    ReceivedCount = 0;
    for (std::uint8_t value : kEndCommand) {
        SendByte(value);
        Sleep(kEndCommandPause);
    }
    return WaitForReply(static_cast<int>(std::size(kEndCommand)), kEndCommandEchoTimeout);
}

void WriteFramework::ShowStatusLamp(StatusLamp lamp) {
    host_.showStatusLamp(lamp);
}

void WriteFramework::FinishSuccessfulWrite(const std::string& textBefore) {
    SendEndCommand();  // the write is done whatever the radio echoes
    ClosePort();
    host_.workEnded();
    ShowStatusLamp(StatusLamp::Green);
    host_.showingOutcome();
    host_.setInstructionText(textBefore + kCompletionText);
    if (host_.askOkConfirmation()) {
        state_.StopRequested = true;
        host_.runEnding();
    }
}

std::uint8_t WriteFramework::ByteSum(const std::uint8_t* bytes, int count) {
    std::uint8_t sum = 0;
    for (int i = 0; i < count; ++i) {
        sum = static_cast<std::uint8_t>(sum + bytes[i]);
    }
    return sum;
}

void WriteFramework::lineReceived(int receiveSize) {
    DisableReceiveTimer();
    // Only bytes actually read are counted: a short read must not turn into
    // zero bytes that look like an answer.
    std::uint8_t chunk[kReadChunkSize];
    int remaining = std::max(receiveSize, 0);
    while (remaining > 0) {
        const int asked = std::min(remaining, kReadChunkSize);
        const int got = std::min(line_.receive(chunk, asked), asked);
        if (got <= 0)
            break;
        for (int i = 0; i < got; ++i) {
            if (ReceivedCount >= 0 && ReceivedCount < kReceiveBufferSize) {
                ReceiveBuffer[static_cast<std::size_t>(ReceivedCount)] = chunk[i];
            }
            ++ReceivedCount;
        }
        remaining -= got;
    }
    ReplyTimedOut = false;
    ArmReceiveTimer(kSilenceAfterArrival);
}

void WriteFramework::receiveTimerFired() {
    DisableReceiveTimer();
    ReplyTimedOut = true;
}

}  // namespace qrb
