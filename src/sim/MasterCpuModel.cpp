// The Master CPU: version answer and numbered 128-byte block frames.
#include "sim/MasterCpuModel.h"

#include <algorithm>
#include <string>

namespace qrb::sim {
namespace {

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kFrame = 0xE0;
constexpr std::uint8_t kFrameSecond = 0x83;
constexpr std::uint8_t kVersion = 0xE1;
constexpr std::size_t kFrameLength = 133;  // E0 83 hi lo, 128 bytes, trailing sum
constexpr std::size_t kBlocks = MasterCpuModel::kMemorySize / MasterCpuModel::kBlockSize;

// The 8 bytes ahead of the version bytes; the PC does not look at them.
constexpr std::uint8_t kVersionPreamble[8] = {'R', 'Q', '-', '7', '3', '0', '0', 'M'};

}  // namespace

MasterCpuModel::MasterCpuModel(RadioConfig config, MasterFaults faults)
    : RadioModel(Unit::MasterCpu, config), faults_(std::move(faults)), memory_(kMemorySize, 0xFF) {}

std::uint32_t MasterCpuModel::memorySum() const {
    std::uint32_t sum = 0;
    for (const std::uint8_t byte : memory_) {
        sum += byte;
    }
    return sum;
}

std::vector<std::uint32_t> MasterCpuModel::acceptedBlocks() const {
    return AcceptedNumbers(frames_);
}

void MasterCpuModel::resetSession() {
    sessionFramesAccepted_ = 0;
}

int MasterCpuModel::commandLength(const std::vector<std::uint8_t>& prefix) const {
    switch (prefix[0]) {
        case kVersion:
            return 3;
        case kFrame:
            if (prefix.size() < 2) {
                return kNeedMoreBytes;
            }
            return prefix[1] == kFrameSecond ? static_cast<int>(kFrameLength) : kUnknownCommand;
        default:
            return kUnknownCommand;
    }
}

void MasterCpuModel::handleCommand(const std::vector<std::uint8_t>& command, Micros at) {
    if (command[0] == kVersion) {
        handleVersion(command, at);
    } else {
        handleFrame(command, at);
    }
}

void MasterCpuModel::handleVersion(const std::vector<std::uint8_t>& command, Micros at) {
    const std::vector<std::uint8_t> expected{0xE1, 0x01, 0xE2};
    if (command != expected) {
        violation(at, "expected the version command E1 01 E2, got " + hexBytes(command));
        return;
    }
    countVersionAnswer();
    if (faults_.refuseVersion) {
        std::vector<std::uint8_t> refusal{kNak, 0xE1, 0x01};
        appendTrailingSum(refusal);
        answer(Step::MasterVersion, std::move(refusal), at, {.hasCheckByte = true});
        return;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(12);
    bytes.push_back(kAck);
    for (const std::uint8_t b : kVersionPreamble) {
        bytes.push_back(b);
    }
    bytes.push_back(static_cast<std::uint8_t>(version() >> 8));
    bytes.push_back(static_cast<std::uint8_t>(version() & 0xFF));
    appendTrailingSum(bytes);
    answer(Step::MasterVersion, std::move(bytes), at, {.hasCheckByte = true});
}

bool MasterCpuModel::refuseNow(int ordinal, std::uint8_t& code) {
    const FrameRefusal* refusal = TakeRefusal(faults_.refusals, refusalsUsed_, ordinal);
    if (refusal != nullptr) {
        code = refusal->code;
    }
    return refusal != nullptr;
}

void MasterCpuModel::handleFrame(const std::vector<std::uint8_t>& frame, Micros at) {
    frameArrived(sessionFramesAccepted_);
    const std::uint8_t hi = frame[2];
    const std::uint8_t lo = frame[3];
    const std::uint32_t block = (static_cast<std::uint32_t>(hi) << 8) | lo;
    const auto refuse = [&](std::uint8_t code) {
        frames_.push_back(FrameRecord{block, at, false});
        std::vector<std::uint8_t> bytes{kNak, hi, lo, code};
        appendTrailingSum(bytes);
        answer(Step::Frame, std::move(bytes), at, {.hasCheckByte = true});
    };

    const std::uint8_t expectedSum = sum8(frame.data(), kFrameLength - 1);
    if (frame[kFrameLength - 1] != expectedSum) {
        violation(at, "frame of block " + std::to_string(block) + ": check byte " +
                          hexBytes(&frame[kFrameLength - 1], 1) + ", expected " +
                          hexBytes(&expectedSum, 1));
        refuse(kCodeBadCheck);
        return;
    }
    if (block >= kBlocks) {
        violation(at, "frame of block " + std::to_string(block) + " beyond the memory");
        refuse(kCodeBadBlock);
        return;
    }
    std::uint8_t code = 0;
    if (refuseNow(sessionFramesAccepted_, code)) {
        refuse(code);
        return;
    }
    std::copy(frame.begin() + 4, frame.begin() + 4 + kBlockSize,
              memory_.begin() + static_cast<std::ptrdiff_t>(block * kBlockSize));
    frames_.push_back(FrameRecord{block, at, true});
    const int ordinal = sessionFramesAccepted_++;
    // The five bytes after the ACK are not looked at by the PC: the frame's
    // head and block number, and their sum.
    std::vector<std::uint8_t> bytes{kAck, kFrame, kFrameSecond, hi, lo};
    appendTrailingSum(bytes);
    answer(Step::Frame, std::move(bytes), at, {.hasCheckByte = true});
    checkVanish(ordinal);
}

}  // namespace qrb::sim
