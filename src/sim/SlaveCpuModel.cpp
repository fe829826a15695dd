// The Slave CPU: erase selection, text line frames and the end frame.
#include "sim/SlaveCpuModel.h"

#include <algorithm>
#include <string>

namespace qrb::sim {
namespace {

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kSelectErase = 0x48;
constexpr std::uint8_t kFrame = 0x50;

}  // namespace

SlaveCpuModel::SlaveCpuModel(RadioConfig config, SlaveFaults faults)
    : RadioModel(Unit::SlaveCpu, config), faults_(std::move(faults)) {}

void SlaveCpuModel::resetSession() {
    eraseSelected_ = false;
    sessionLinesAccepted_ = 0;
}

int SlaveCpuModel::commandLength(const std::vector<std::uint8_t>& prefix) const {
    switch (prefix[0]) {
        case kSelectErase:
            return 1;
        case kFrame:
            if (prefix.size() < 2) {
                return kNeedMoreBytes;
            }
            if (prefix[1] == 0xFF) {
                return 6;  // 50 FF FF FF FF B4
            }
            if (prefix[1] != 0x00) {
                return kUnknownCommand;
            }
            if (prefix.size() < 3) {
                return kNeedMoreBytes;
            }
            return 3 + prefix[2] + 1;  // 50 00 L, L characters, check byte
        default:
            return kUnknownCommand;
    }
}

void SlaveCpuModel::handleCommand(const std::vector<std::uint8_t>& command, Micros at) {
    if (command[0] == kSelectErase) {
        const bool refused = faults_.refuseSelectErase;
        if (!refused) {
            // Selecting the erase wipes what earlier attempts left.
            eraseSelected_ = true;
            lines_.clear();
            sessionLinesAccepted_ = 0;
        }
        answer(Step::SelectErase, {refused ? kNak : kAck}, at);
    } else if (command[1] == 0xFF) {
        handleEndFrame(command, at);
    } else {
        handleLineFrame(command, at);
    }
}

bool SlaveCpuModel::refuseNow(int ordinal) {
    return TakeRefusal(faults_.refusals, refusalsUsed_, ordinal) != nullptr;
}

void SlaveCpuModel::handleLineFrame(const std::vector<std::uint8_t>& frame, Micros at) {
    const int ordinal = sessionLinesAccepted_;
    frameArrived(ordinal);
    const auto refuse = [&] {
        frames_.push_back(FrameRecord{static_cast<std::uint32_t>(ordinal), at, false});
        answer(Step::Frame, {kNak}, at, {});
    };
    if (sum8(frame) != 0) {
        violation(at, "line frame " + std::to_string(ordinal) + " (" +
                          hexBytes(frame.data(), std::min<std::size_t>(frame.size(), 8)) +
                          " ...): its bytes do not sum to 0");
        refuse();
        return;
    }
    if (!eraseSelected_) {
        violation(at, "line frame before the erase selection 48");
        refuse();
        return;
    }
    if (refuseNow(ordinal)) {
        refuse();
        return;
    }
    lines_.emplace_back(frame.begin() + 3, frame.end() - 1);
    frames_.push_back(FrameRecord{static_cast<std::uint32_t>(ordinal), at, true});
    ++sessionLinesAccepted_;
    answer(Step::Frame, {kAck}, at, {});
    checkVanish(ordinal);
}

void SlaveCpuModel::handleEndFrame(const std::vector<std::uint8_t>& frame, Micros at) {
    const std::vector<std::uint8_t> expected{0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4};
    if (frame != expected) {
        violation(at, "expected the end frame 50 FF FF FF FF B4, got " + hexBytes(frame));
        answer(Step::EndFrame, {kNak}, at);
        return;
    }
    if (!eraseSelected_) {
        violation(at, "end frame before the erase selection 48");
        answer(Step::EndFrame, {kNak}, at);
        return;
    }
    ++endFrames_;
    answer(Step::EndFrame, {faults_.refuseEndFrame ? kNak : kAck}, at);
}

}  // namespace qrb::sim
