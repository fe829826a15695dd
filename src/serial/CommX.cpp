// TCommX: the serial port component.
#include "serial/CommX.h"

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <system_error>
#include <thread>

#include "serial/CommNotifier.h"
#include "serial/CommThreads.h"

namespace qrb {
namespace {

using Clock = std::chrono::steady_clock;

// Control-line word of each FlowCtrl value (see CommFlags for the bits).
constexpr std::array<std::uint32_t, 6> kFlowControlWords{
    0x2017,  // cfcRtsCts: parity checking, CTS output flow, DTR on, RTS handshake
    0x102B,  // cfcDtrDsr: parity checking, DSR output flow, DTR handshake, RTS on
    0x1313,  // cfcXonXoff: parity checking, DTR on, XON/XOFF both ways, RTS on
    0x0013,  // cfcHalfHigh: parity checking, DTR on, RTS off (raised per burst)
    0x1013,  // cfcHalfLow: parity checking, DTR on, RTS on (dropped per burst)
    0x1013,  // cfcNone: parity checking, DTR on, RTS on
};

constexpr std::uint32_t kReadIntervalReturnAtOnce = 0xFFFFFFFF;
constexpr std::chrono::milliseconds kWaitStep{1};

}  // namespace

TCustomCommX::TCustomCommX(QObject* owner, CommXOptions options)
    : QObject(owner), options_(std::move(options)) {
    notifier_ = std::make_unique<CommNotifier>(
        [this](CommNotice notice, std::int32_t parameter, std::uint64_t session) {
            dispatch(notice, parameter, session);
        });
}

TCustomCommX::~TCustomCommX() {
    Close();
}

std::uint32_t TCustomCommX::Handle() const {
    return IsOpen() ? session_->port().handle() : kInvalidHandle;
}

int TCustomCommX::CharDelayFor(int bitRate) {
    const int charactersPerSecond = bitRate / 10;
    return charactersPerSecond == 0 ? -1 : 1000 / charactersPerSecond + 1;
}

int TCustomCommX::CharDelay() const {
    return transThread_ ? transThread_->charDelay() : 0;
}

int TCustomCommX::PendingBytes() const {
    return session_ ? session_->pendingBytes() : 0;
}

int TCustomCommX::PendingBlocks() const {
    return session_ ? session_->pendingBlocks() : 0;
}

void TCustomCommX::sleepFor(std::chrono::milliseconds duration) const {
    std::this_thread::sleep_for(duration);
}

// --- Open and Close -----------------------------------------------------

void TCustomCommX::Open() {
    if (IsOpen()) {
        throw ECommError(CommErrorText::kAlreadyOpen);
    }
    std::unique_ptr<PortBackend> port = options_.makeBackend();
    lastOpenError_ = port->open(options_.devicePathFor(portNo_));
    if (lastOpenError_) {
        throw ECommError(CommErrorText::kPortOpen);
    }
    session_ =
        std::make_unique<CommSession>(std::move(port), *notifier_, ++sessionCount_, options_.waits);
    portHeld_ = true;
    session_->flowCtrl.store(flowCtrl_);
    try {
        applyQueueSizes();
        session_->port().purgeOutput();
        session_->port().purgeInput();
        session_->port().getState(state_);  // a starting point only; every field is set below
        applyBitRate();
        applyCharSize();
        applyParityBit();
        applyStopBit();
        applyFlowCtrl();
        // From the next applied setting on no handshake runs, whatever
        // FlowCtrl says, until FlowCtrl or BufLenReceive is assigned.
        state_.flags = kOpenControlWord;
        applyTimeouts();
        applyXonChar();
        applyXoffChar();
        session_->port().setEventMask(CommEvents::kAll);
        startThreads();
        sleepFor(options_.waits.afterOpen);
    } catch (...) {
        Close();
        throw;
    }
}

void TCustomCommX::startThreads() {
    transThread_.reset();
    receiveThread_.reset();

    const int charDelay = CharDelayFor(bitRate_);
    if (charDelay < 0) {
        throw ECommError(CommErrorText::kTransmitThread);
    }
    try {
        auto thread = std::make_unique<TCommTransThread>(*session_, options_.handOverCapacity);
        thread->setCharDelay(charDelay);
        thread->start();
        transThread_ = std::move(thread);
    } catch (const std::exception&) {
        throw ECommError(CommErrorText::kTransmitThread);
    }
    try {
        auto thread = std::make_unique<TCommReceiveThread>(*session_);
        thread->start();
        receiveThread_ = std::move(thread);
    } catch (const std::exception&) {
        throw ECommError(CommErrorText::kReceiveThread);
    }
}

void TCustomCommX::Close() {
    if (!IsOpen()) {
        return;
    }
    // A worker may be waiting for us to handle its notice; from here on it
    // does not, so the waits below cannot block each other.
    CommNotifier::WaitRelease releaseWorkers(*notifier_);
    PurgeTransmit();
    PurgeReceive();
    sleepFor(options_.waits.closeAfterPurge);
    stopThreadsAndReleasePort();
}

void TCustomCommX::stopThreadsAndReleasePort() {
    if (transThread_) {
        transThread_->requestStop();
    }
    if (receiveThread_) {
        receiveThread_->requestStop();
    }
    if (transThread_) {
        transThread_->waitUntilPortReleased();
    }
    if (receiveThread_) {
        receiveThread_->waitUntilPortReleased();
    }

    state_.flags = kCloseControlWord;  // DTR drops
    session_->port().setState(state_);
    session_->port().close();
    portHeld_ = false;
    sleepFor(options_.waits.closeAfterRelease);

    // The threads only make their closing pause now; it overlaps ours.
    transThread_.reset();
    receiveThread_.reset();
    session_.reset();
}

// --- Sending ------------------------------------------------------------

bool TCustomCommX::Send(const void* buffer, int count) {
    return queueBlocks(buffer, count, std::max(bufLenTrans_, 1), WakeTransmitThread::ForEachBlock);
}

bool TCustomCommX::SendEach(const void* buffer, int count) {
    const bool queued = queueBlocks(buffer, count, 1, WakeTransmitThread::OnceQueued);
    if (IsOpen() && transThread_) {
        transThread_->wake();
    }
    return queued;
}

bool TCustomCommX::queueBlocks(const void* buffer, int count, int blockSize,
                               WakeTransmitThread wake) {
    if (count == 0) {
        return true;
    }
    if (buffer == nullptr && count > 0) {
        return false;
    }
    const auto* source = static_cast<const std::uint8_t*>(buffer);
    const auto* const first = source;
    while (count > 0) {
        if (!IsOpen() || !transThread_) {
            return false;
        }
        if (session_->pendingBlocks() >= kMaxOutstandingBlocks) {
            // Blocks held back must go out before waiting for room.
            transThread_->wake();
            // Handlers may run here, and may even close the port.
            QCoreApplication::processEvents();
            if (IsOpen()) {
                session_->waitForBlocksBelow(kMaxOutstandingBlocks, kWaitStep);
            }
            continue;
        }
        const int length = std::min(count, blockSize);
        TransmitBlock block = TransmitBlock::CopyOf(source, static_cast<std::size_t>(length));
        if (block) {
            session_->addPending(block.length);
            // The run's first block wakes the thread at once, so that it
            // writes while the rest is queued.
            const bool wakeNow = wake == WakeTransmitThread::ForEachBlock || source == first;
            if (!transThread_->post(block, wakeNow)) {
                // Never reached the thread: take its counts back; it is freed here.
                session_->undoPending(block.length);
            }
        }
        count -= length;
        source += length;
    }
    return true;
}

bool TCustomCommX::SendByte(std::uint8_t value) {
    return Send(&value, 1);
}

void TCustomCommX::PurgeTransmit() {
    if (!IsOpen()) {
        return;
    }
    PortBackend& port = session_->port();
    if (!transThread_) {
        port.purgeOutput();
        return;
    }
    CommNotifier::WaitRelease releaseWorkers(*notifier_);
    session_->discarding.store(true);
    do {
        {
            std::lock_guard lock(session_->writeLock());
            port.purgeOutput();
        }
        session_->waitForNoPendingBytes(kWaitStep);
    } while (session_->pendingBytes() > 0);
    session_->discarding.store(false);
}

// --- Receiving ----------------------------------------------------------

int TCustomCommX::Receive(void* buffer, int count) {
    if (!IsOpen() || !receiveThread_ || buffer == nullptr) {
        return -1;
    }
    if (count <= 0) {
        return 0;
    }
    auto* target = static_cast<std::uint8_t*>(buffer);
    int received = session_->port().read(target, count);
    if (received < 0) {
        reportLineErrorsNow();
        return -1;
    }
    if (received == count) {
        return received;
    }

    // Not all there yet: wait up to the read time-out, handling events.
    const CommTimeouts timeouts = session_->port().timeouts();
    const auto totalMs =
        std::uint64_t{timeouts.readTotalMultiplierMs} * static_cast<std::uint64_t>(count) +
        timeouts.readTotalConstantMs;
    const bool returnAtOnce = timeouts.readIntervalMs == kReadIntervalReturnAtOnce &&
                              timeouts.readTotalMultiplierMs == 0 &&
                              timeouts.readTotalConstantMs == 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    while (!returnAtOnce && received < count && Clock::now() < deadline) {
        QCoreApplication::processEvents();
        sleepFor(kWaitStep);
        if (!IsOpen() || !receiveThread_) {
            return -1;
        }
        const int more = session_->port().read(target + received, count - received);
        if (more < 0) {
            // The device failed: hand over what did arrive, report the failure.
            reportLineErrorsNow();
            return received > 0 ? received : -1;
        }
        received += more;
    }
    return received;
}

void TCustomCommX::PurgeReceive() {
    if (IsOpen()) {
        session_->port().purgeInput();
    }
}

int TCustomCommX::InQueueCount() {
    return IsOpen() ? session_->port().clearCommError().inQueue : 0;
}

void TCustomCommX::reportLineErrorsNow() {
    const std::uint64_t session = session_->id();
    if (session_->takeDeviceLostReport()) {
        dispatch(CommNotice::Error, CommErrors::kFrame, session);
    } else if (const std::int32_t errors = session_->takeLineErrors(); errors != 0) {
        dispatch(CommNotice::Error, errors, session);
    }
}

// --- Notices on the owner thread ----------------------------------------

void TCustomCommX::dispatch(CommNotice notice, std::int32_t parameter, std::uint64_t session) {
    // Notices of an earlier open, or arriving after Close, are dropped.
    if (!IsOpen() || session != session_->id()) {
        return;
    }
    switch (notice) {
        case CommNotice::Receive:
            if (OnReceive) {
                const int waiting = InQueueCount();
                if (waiting != 0) {
                    const TCommReceiveEvent handler = OnReceive;  // it may reassign itself
                    handler(this, waiting);
                }
            }
            break;
        case CommNotice::Break:
            if (OnBreak) {
                const TCommBreakEvent handler = OnBreak;
                handler(this);
            }
            break;
        case CommNotice::Error:
            if (OnError) {
                const TCommErrEvent handler = OnError;
                handler(this, parameter);
            }
            break;
    }
}

// --- Properties ---------------------------------------------------------

void TCustomCommX::applyState(const char* failureText) {
    if (!session_->port().setState(state_)) {
        throw ECommError(failureText);
    }
}

void TCustomCommX::setPortNo(int value) {
    portNo_ = value;
    if (IsOpen()) {
        Close();
        Open();
    }
}

void TCustomCommX::setBitRate(int value) {
    bitRate_ = value;
    if (IsOpen()) {
        applyBitRate();
    }
}

void TCustomCommX::applyBitRate() {
    state_.baudRate = static_cast<std::uint32_t>(bitRate_);
    applyState(CommErrorText::kBitRate);
    if (transThread_) {
        const int charDelay = CharDelayFor(bitRate_);
        if (charDelay < 0) {
            throw ECommError(CommErrorText::kBitRate);
        }
        transThread_->setCharDelay(charDelay);
    }
}

void TCustomCommX::setCharSize(int value) {
    charSize_ = value;
    if (IsOpen()) {
        applyCharSize();
    }
}

void TCustomCommX::applyCharSize() {
    state_.byteSize = static_cast<std::uint8_t>(charSize_);
    applyState(CommErrorText::kCharSize);
}

void TCustomCommX::setParityBit(TCommParityBits value) {
    parityBit_ = value;
    if (IsOpen()) {
        applyParityBit();
    }
}

void TCustomCommX::applyParityBit() {
    state_.parity = static_cast<std::uint8_t>(parityBit_);
    applyState(CommErrorText::kParity);
}

void TCustomCommX::setStopBit(TCommStopBits value) {
    stopBit_ = value;
    if (IsOpen()) {
        applyStopBit();
    }
}

void TCustomCommX::applyStopBit() {
    state_.stopBits = static_cast<std::uint8_t>(stopBit_);
    applyState(CommErrorText::kStopBits);
}

void TCustomCommX::setFlowCtrl(TCommFlowCtrls value) {
    flowCtrl_ = value;
    if (IsOpen()) {
        session_->flowCtrl.store(value);
        applyFlowCtrl();
    }
}

void TCustomCommX::applyFlowCtrl() {
    const auto limit = static_cast<std::uint16_t>(bufLenReceive_ / 4);
    state_.xonLimit = limit;
    state_.xoffLimit = limit;
    const auto index = static_cast<std::size_t>(flowCtrl_);
    state_.flags = index < kFlowControlWords.size() ? kFlowControlWords[index] : state_.flags;
    applyState(CommErrorText::kFlowCtrl);
}

void TCustomCommX::setTimeOutTrans(int value) {
    timeOutTrans_ = value;
    if (IsOpen()) {
        applyTimeouts();
    }
}

void TCustomCommX::setTimeOutReceive(int value) {
    timeOutReceive_ = value;
    if (IsOpen()) {
        applyTimeouts();
    }
}

void TCustomCommX::applyTimeouts() {
    CommTimeouts timeouts = session_->port().timeouts();
    timeouts.readIntervalMs = kReadIntervalReturnAtOnce;
    timeouts.readTotalMultiplierMs = 0;
    timeouts.readTotalConstantMs = static_cast<std::uint32_t>(timeOutReceive_);
    timeouts.writeTotalMultiplierMs = 0;
    timeouts.writeTotalConstantMs = static_cast<std::uint32_t>(timeOutTrans_);
    if (!session_->port().setTimeouts(timeouts)) {
        throw ECommError(CommErrorText::kTimeOuts);
    }
}

void TCustomCommX::setXonChar(std::uint8_t value) {
    xonChar_ = value;
    if (IsOpen()) {
        applyXonChar();
    }
}

void TCustomCommX::applyXonChar() {
    state_.xonChar = xonChar_;
    applyState(CommErrorText::kXonChar);
}

void TCustomCommX::setXoffChar(std::uint8_t value) {
    xoffChar_ = value;
    if (IsOpen()) {
        applyXoffChar();
    }
}

void TCustomCommX::applyXoffChar() {
    state_.xoffChar = xoffChar_;
    applyState(CommErrorText::kXoffChar);
}

void TCustomCommX::setBufLenTrans(int value) {
    bufLenTrans_ = value;
    if (IsOpen()) {
        applyQueueSizes();
    }
}

void TCustomCommX::setBufLenReceive(int value) {
    bufLenReceive_ = value;
    if (IsOpen()) {
        applyQueueSizes();
        applyFlowCtrl();
    }
}

void TCustomCommX::applyQueueSizes() {
    if (!session_->port().setupQueues(bufLenReceive_, bufLenTrans_)) {
        throw ECommError(CommErrorText::kBuffers);
    }
}

}  // namespace qrb
