// The serial component's two worker threads.
#include "serial/CommThreads.h"

#include <array>
#include <span>
#include <vector>

namespace qrb {
namespace {

using Clock = std::chrono::steady_clock;

// Blocks written with one call at most; the rest follows in the next call.
constexpr std::size_t kPiecesPerWrite = 64;

}  // namespace

// --- CommWorker ---------------------------------------------------------

CommWorker::~CommWorker() = default;

void CommWorker::start() {
    thread_ = std::thread([this] { run(); });
}

void CommWorker::run() {
    execute();
    {
        std::lock_guard lock(releaseMutex_);
        portReleased_ = true;
    }
    releasedChanged_.notify_all();
    std::this_thread::sleep_for(session_.waits().threadEnd);
}

void CommWorker::waitUntilPortReleased() {
    if (thread_.joinable()) {
        std::unique_lock lock(releaseMutex_);
        releasedChanged_.wait(lock, [this] { return portReleased_; });
    }
}

void CommWorker::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

// --- TCommTransThread ---------------------------------------------------

void TCommTransThread::requestStop() {
    markStopRequested();
    queue_.close();
    session_.port().interruptWrite();
}

void TCommTransThread::execute() {
    std::deque<TransmitBlock> batch;
    while (queue_.waitAndTakeAll(batch)) {
        burstStarted_ = false;
        // A burst lasts while more blocks keep arriving.
        while (!batch.empty()) {
            writeBatch(batch);
            queue_.takeAll(batch);
        }
        if (burstStarted_) {
            burstEnd();
        }
    }
}

SteadyDeadline TCommTransThread::deadlineFor(std::size_t length) {
    const CommTimeouts timeouts = session_.port().timeouts();
    const auto totalMs =
        std::uint64_t{timeouts.writeTotalMultiplierMs} * length + timeouts.writeTotalConstantMs;
    if (totalMs == 0) {
        return std::nullopt;
    }
    return Clock::now() + std::chrono::milliseconds(totalMs);
}

// Writes (or, while purging or stopping, drops) every block of the batch.
// Blocks are written in order; several are passed to the device in one call
// when it takes them, which keeps a run of single-byte sends cheap. A write
// that fails or times out drops the rest of its block only.
void TCommTransThread::writeBatch(std::deque<TransmitBlock>& batch) {
    std::size_t headOffset = 0;  // bytes of the first block already written
    SteadyDeadline headDeadline = deadlineFor(batch.front().length);
    std::size_t finishedBytes = 0;
    int finishedBlocks = 0;
    const auto finishHead = [&] {
        finishedBytes += batch.front().length;
        ++finishedBlocks;
        batch.pop_front();
        headOffset = 0;
        if (!batch.empty()) {
            headDeadline = deadlineFor(batch.front().length);
        }
    };
    const auto settleCounts = [&] {
        session_.finishPending(finishedBytes, finishedBlocks);
        finishedBytes = 0;
        finishedBlocks = 0;
    };

    std::vector<std::span<const std::uint8_t>> pieces;
    pieces.reserve(kPiecesPerWrite);
    while (!batch.empty()) {
        if (session_.discarding.load() || stopRequested()) {
            while (!batch.empty()) {
                finishHead();
            }
            settleCounts();
            return;
        }
        if (!burstStarted_) {
            burstStarted_ = true;
            burstStart();
        }

        pieces.clear();
        std::size_t requested = 0;
        for (std::size_t i = 0; i < batch.size() && pieces.size() < kPiecesPerWrite; ++i) {
            const std::size_t skip = i == 0 ? headOffset : 0;
            pieces.emplace_back(batch[i].bytes.get() + skip, batch[i].length - skip);
            requested += batch[i].length - skip;
        }
        WriteResult result;
        {
            std::lock_guard lock(session_.writeLock());
            result = session_.port().write(pieces);
        }
        if (result.status == WriteStatus::Failed) {
            finishHead();
            settleCounts();
            reportWriteFailure();
            continue;
        }
        for (std::size_t written = result.written; written > 0;) {
            const std::size_t rest = batch.front().length - headOffset;
            if (written < rest) {
                headOffset += written;
                break;
            }
            written -= rest;
            finishHead();
        }
        settleCounts();
        if (batch.empty() || result.written == requested) {
            continue;
        }
        // The device is full: wait for room, for the block's time-out, or
        // for a purge or stop.
        switch (session_.port().waitWritable(headDeadline)) {
            case WaitStatus::Ready:
            case WaitStatus::Interrupted:
                break;
            case WaitStatus::TimedOut:
                finishHead();  // the rest of the block is not sent
                break;
            case WaitStatus::Failed:
                finishHead();
                settleCounts();
                reportWriteFailure();
                break;
        }
        settleCounts();
    }
}

void TCommTransThread::reportWriteFailure() {
    if (session_.takeDeviceLostReport()) {
        session_.notify(CommNotice::Error, CommErrors::kFrame);
        return;
    }
    if (const std::int32_t errors = session_.takeLineErrors(); errors != 0) {
        session_.notify(CommNotice::Error, errors);
    }
}

bool TCommTransThread::halfDuplex() const {
    const TCommFlowCtrls flow = session_.flowCtrl.load();
    return flow == TCommFlowCtrls::cfcHalfHigh || flow == TCommFlowCtrls::cfcHalfLow;
}

void TCommTransThread::burstStart() {
    if (!halfDuplex()) {
        return;
    }
    std::this_thread::sleep_for(session_.waits().burstLead);
    session_.port().setRts(session_.flowCtrl.load() == TCommFlowCtrls::cfcHalfHigh);
    std::this_thread::sleep_for(std::chrono::milliseconds(charDelay()));
}

void TCommTransThread::burstEnd() {
    if (!halfDuplex()) {
        return;
    }
    // The bytes must have left before RTS turns: a write here returns once
    // the driver holds them, not once they are on the line.
    session_.port().waitUntilSent(deadlineFor(0));
    std::this_thread::sleep_for(std::chrono::milliseconds(charDelay()));
    session_.port().setRts(session_.flowCtrl.load() != TCommFlowCtrls::cfcHalfHigh);
}

// --- TCommReceiveThread -------------------------------------------------

void TCommReceiveThread::requestStop() {
    markStopRequested();
    session_.port().interruptWait();
}

void TCommReceiveThread::execute() {
    while (!stopRequested()) {
        const std::uint32_t events = session_.port().waitCommEvent();
        if (stopRequested()) {
            break;
        }
        if (session_.takeDeviceLostReport()) {
            report(CommNotice::Error, CommErrors::kFrame);
        }
        if (const std::int32_t errors = session_.takeGatheredLineErrors(); errors != 0) {
            report(CommNotice::Error, errors);
        }
        if ((events & CommEvents::kBreak) != 0) {
            report(CommNotice::Break, static_cast<std::int32_t>(events));
        }
        if ((events & CommEvents::kRxChar) != 0) {
            report(CommNotice::Receive, 0);
        }
    }
    session_.port().setEventMask(0);
}

void TCommReceiveThread::report(CommNotice notice, std::int32_t parameter) {
    notices_.post(session_.id(), notice, parameter);
}

}  // namespace qrb
