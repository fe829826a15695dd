// The OLU-6 option unit: parameter commands, programming state, stored
// routines, boot status, blank check, erase, block programming, memory sum.
#include "sim/OptionUnitModel.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <string>

namespace qrb::sim {
namespace {

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;

constexpr std::uint8_t kQueryProgrammingUnit = 0x27;
constexpr std::uint8_t kSelectDevice = 0x10;
constexpr std::uint8_t kSelectClockMode = 0x11;
constexpr std::uint8_t kSelectBitRate = 0x3F;
constexpr std::uint8_t kConfirmBitRate = 0x06;
constexpr std::uint8_t kEnterProgrammingState = 0x40;
constexpr std::uint8_t kQueryBootStatus = 0x4F;
constexpr std::uint8_t kCheckBlank = 0x4D;
constexpr std::uint8_t kSelectErase = 0x48;
constexpr std::uint8_t kErase = 0x58;
constexpr std::uint8_t kSelectProgramming = 0x43;
constexpr std::uint8_t kReadUnitChecksum = 0x4B;
constexpr std::uint8_t kFrame = 0x50;

constexpr std::uint8_t kEraseEndBlock = 0xFF;
constexpr std::size_t kFrameLength = 134;  // 50, 4-byte address, 128 bytes, check byte
constexpr std::uint32_t kEndAddress = 0xFFFFFFFF;

// Parameter commands: command, length, parameters, zero-sum check byte.
constexpr std::uint8_t kSelectDeviceBytes[] = {0x10, 0x04, 0x30, 0x31, 0x30, 0x31, 0x2A};
constexpr std::uint8_t kSelectClockModeBytes[] = {0x11, 0x01, 0x00, 0xEE};
constexpr std::uint8_t kSelectBitRateBytes[] = {0x3F, 0x07, 0x00, 0x30, 0x06,
                                                0x90, 0x01, 0x01, 0x01, 0xF1};

// Erase blocks of the unit's flash (first and last address).
constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, OptionUnitModel::kEraseBlocks>
    kEraseBlockRanges{{
        {0x00000, 0x003FF},
        {0x00400, 0x007FF},
        {0x00800, 0x00FFF},
        {0x01000, 0x07FFF},
        {0x08000, 0x0BFFF},
        {0x0C000, 0x0FFFF},
        {0x10000, 0x13FFF},
        {0x14000, 0x15FFF},
        {0x16000, 0x17FFF},
        {0x18000, 0x1FFFF},
    }};

std::uint32_t readBigEndian32(const std::uint8_t* bytes) {
    return (static_cast<std::uint32_t>(bytes[0]) << 24) |
           (static_cast<std::uint32_t>(bytes[1]) << 16) |
           (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
}

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

// What a unit that has been in service holds: old firmware in the blocks
// that every write erases, the rest erased.
std::vector<std::uint8_t> oldFirmware() {
    std::vector<std::uint8_t> memory(OptionUnitModel::kMemorySize, 0xFF);
    for (std::uint32_t a = kEraseBlockRanges[2].first; a <= kEraseBlockRanges[8].second; ++a) {
        memory[a] = static_cast<std::uint8_t>((a * 7u) ^ (a >> 9));
    }
    return memory;
}

}  // namespace

OptionUnitModel::OptionUnitModel(OptionUnitConfig config, OptionUnitFaults faults)
    : RadioModel(Unit::OptionUnit, config),
      optionConfig_(std::move(config)),
      faults_(std::move(faults)) {
    if (optionConfig_.initialMemory) {
        memory_ = *optionConfig_.initialMemory;
        memory_.resize(kMemorySize, 0xFF);
    } else if (optionConfig_.blank) {
        memory_.assign(kMemorySize, 0xFF);
    } else {
        memory_ = oldFirmware();
    }
}

std::pair<std::uint32_t, std::uint32_t> OptionUnitModel::eraseBlockRange(int block) {
    if (block < 0 || block >= kEraseBlocks) {
        return {0, 0};
    }
    return kEraseBlockRanges[static_cast<std::size_t>(block)];
}

std::uint32_t OptionUnitModel::memorySum() const {
    std::uint32_t sum = 0;
    for (const std::uint8_t byte : memory_) {
        sum += byte;
    }
    return sum;
}

bool OptionUnitModel::blank() const {
    return std::all_of(memory_.begin(), memory_.end(), [](std::uint8_t b) { return b == 0xFF; });
}

std::vector<std::uint32_t> OptionUnitModel::acceptedAddresses() const {
    return AcceptedNumbers(frames_);
}

void OptionUnitModel::resetSession() {
    phase_ = Phase::Parameters;
    awaited_ = Awaited::None;
    bitRateSelected_ = false;
    bitRateConfirmed_ = false;
    sessionFramesAccepted_ = 0;
}

int OptionUnitModel::commandLength(const std::vector<std::uint8_t>& prefix) const {
    // A stored routine starts with its 4-byte length, high byte first.
    if (awaited_ != Awaited::None && prefix[0] == 0x00) {
        if (prefix.size() < 4) {
            return kNeedMoreBytes;
        }
        const std::uint32_t length = readBigEndian32(prefix.data());
        if (length != kBaseRoutineLength && length != kEraseRoutineLength &&
            length != kProgramRoutineLength) {
            return kUnknownCommand;
        }
        return static_cast<int>(4 + length + 1);
    }
    switch (prefix[0]) {
        case kQueryProgrammingUnit:
        case kConfirmBitRate:
        case kEnterProgrammingState:
        case kQueryBootStatus:
        case kCheckBlank:
        case kSelectErase:
        case kSelectProgramming:
        case kReadUnitChecksum:
            return 1;
        case kSelectDevice:
        case kSelectClockMode:
        case kSelectBitRate:
        case kErase:
            if (prefix.size() < 2) {
                return kNeedMoreBytes;
            }
            return 2 + prefix[1] + 1;
        case kFrame:
            if (prefix.size() < 5) {
                return kNeedMoreBytes;
            }
            return readBigEndian32(&prefix[1]) == kEndAddress ? 6 : static_cast<int>(kFrameLength);
        default:
            return kUnknownCommand;
    }
}

void OptionUnitModel::acknowledge(Step step, Micros at, Micros delay) {
    answer(step, {kAck}, at, {.delay = delay});
}

void OptionUnitModel::refuse(Step step, Micros at) {
    answer(step, {kNak}, at);
}

void OptionUnitModel::handleCommand(const std::vector<std::uint8_t>& command, Micros at) {
    if (awaited_ != Awaited::None && command[0] == 0x00 && command.size() > 5) {
        handleRoutine(command, at);
        return;
    }
    if (awaited_ != Awaited::None) {
        violation(at, "expected a stored routine, got command " +
                          hexBytes(command.data(), std::min<std::size_t>(command.size(), 4)));
        awaited_ = Awaited::None;
    }
    const bool programming = phase_ == Phase::Programming || phase_ == Phase::Transferred;
    const auto outOfOrder = [&](Step step, const char* what) {
        violation(at, std::string(what) + " " + hexBytes(command.data(), 1) +
                          " outside the programming state");
        refuse(step, at);
    };
    switch (command[0]) {
        case kQueryProgrammingUnit: {
            std::vector<std::uint8_t> bytes{
                kQueryProgrammingUnit, 0x02,
                static_cast<std::uint8_t>(faults_.programmingUnit >> 8),
                static_cast<std::uint8_t>(faults_.programmingUnit & 0xFF)};
            appendZeroSum(bytes);
            answer(Step::QueryProgrammingUnit, std::move(bytes), at, {.hasCheckByte = true});
            return;
        }
        case kSelectDevice:
        case kSelectClockMode:
        case kSelectBitRate:
            handleParameter(command, at);
            return;
        case kConfirmBitRate:
            if (!bitRateSelected_) {
                violation(at, "06 without a bit rate selected before it");
                return;
            }
            bitRateConfirmed_ = true;
            acknowledge(Step::ConfirmBitRate, at);
            return;
        case kEnterProgrammingState:
            if (!bitRateConfirmed_) {
                violation(at, "40 before the bit rate was selected and confirmed");
                refuse(Step::EnterProgrammingState, at);
                return;
            }
            if (faults_.enterError) {
                answer(
                    Step::EnterProgrammingState,
                    {static_cast<std::uint8_t>(kEnterProgrammingState | 0x80), *faults_.enterError},
                    at, {.delay = optionConfig_.enterDelay});
                return;
            }
            if (answer(Step::EnterProgrammingState, {kAck}, at,
                       {.delay = optionConfig_.enterDelay})) {
                awaited_ = Awaited::Base;
            }
            return;
        case kQueryBootStatus: {
            if (!programming) {
                outOfOrder(Step::QueryBootStatus, "boot status query");
                return;
            }
            const int query = bootStatusQueries_++;
            std::uint8_t status = 0x00;
            if (faults_.bootStatusError && faults_.bootStatusError->occurrence == query) {
                status = faults_.bootStatusError->code;
            }
            std::vector<std::uint8_t> bytes{kQueryBootStatus, 0x02, 0x00, status};
            appendZeroSum(bytes);
            answer(Step::QueryBootStatus, std::move(bytes), at, {.hasCheckByte = true});
            return;
        }
        case kCheckBlank:
            if (!programming) {
                outOfOrder(Step::CheckBlank, "blank check");
                return;
            }
            if (faults_.checkBlankError) {
                answer(Step::CheckBlank, {0xCD, *faults_.checkBlankError}, at);
            } else if (blank()) {
                answer(Step::CheckBlank, {kAck}, at);
            } else {
                answer(Step::CheckBlank, {0xCD, 0x52}, at);
            }
            return;
        case kSelectErase:
            if (!programming) {
                outOfOrder(Step::SelectErase, "erase selection");
                return;
            }
            if (answer(Step::SelectErase, {kAck}, at)) {
                awaited_ = Awaited::Erase;
            }
            return;
        case kSelectProgramming:
            if (!programming) {
                outOfOrder(Step::SelectProgramming, "programming selection");
                return;
            }
            if (answer(Step::SelectProgramming, {kAck}, at)) {
                awaited_ = Awaited::Program;
            }
            return;
        case kReadUnitChecksum: {
            if (!programming) {
                outOfOrder(Step::ReadUnitChecksum, "sum query");
                return;
            }
            const std::uint32_t sum = memorySum();
            std::vector<std::uint8_t> bytes{kReadUnitChecksum,
                                            0x04,
                                            static_cast<std::uint8_t>(sum >> 24),
                                            static_cast<std::uint8_t>(sum >> 16),
                                            static_cast<std::uint8_t>(sum >> 8),
                                            static_cast<std::uint8_t>(sum)};
            appendZeroSum(bytes);
            ++checksumAnswers_;
            answer(Step::ReadUnitChecksum, std::move(bytes), at, {.hasCheckByte = true});
            return;
        }
        case kErase:
            handleErase(command, at);
            return;
        case kFrame:
            if (command.size() == 6) {
                handleEndFrame(command, at);
            } else {
                handleFrame(command, at);
            }
            return;
        default:
            violation(at, "unknown command " + hexBytes(command.data(), 1));
            return;
    }
}

void OptionUnitModel::handleParameter(const std::vector<std::uint8_t>& command, Micros at) {
    std::span<const std::uint8_t> expectedBytes = kSelectDeviceBytes;
    Step step = Step::SelectDevice;
    if (command[0] == kSelectClockMode) {
        expectedBytes = kSelectClockModeBytes;
        step = Step::SelectClockMode;
    } else if (command[0] == kSelectBitRate) {
        expectedBytes = kSelectBitRateBytes;
        step = Step::SelectBitRate;
    }
    const std::vector<std::uint8_t> expected(expectedBytes.begin(), expectedBytes.end());
    if (sum8(command) != 0) {
        violation(at, "command " + hexBytes(command) + ": its bytes do not sum to 0");
        refuse(step, at);
        return;
    }
    if (command != expected) {
        violation(at, "expected " + hexBytes(expected) + ", got " + hexBytes(command));
        refuse(step, at);
        return;
    }
    if (phase_ != Phase::Parameters) {
        violation(at,
                  "parameter command " + hexBytes(command.data(), 1) + " in the programming state");
    }
    if (step == Step::SelectBitRate) {
        bitRateSelected_ = true;
    }
    acknowledge(step, at);
}

void OptionUnitModel::handleRoutine(const std::vector<std::uint8_t>& routine, Micros at) {
    const std::uint32_t length = readBigEndian32(routine.data());
    const Awaited awaited = awaited_;
    awaited_ = Awaited::None;
    const std::uint32_t expected = awaited == Awaited::Base    ? kBaseRoutineLength
                                   : awaited == Awaited::Erase ? kEraseRoutineLength
                                                               : kProgramRoutineLength;
    if (sum8(routine) != 0) {
        violation(at, "routine of " + std::to_string(length) + " bytes: its " +
                          std::to_string(routine.size()) + " bytes do not sum to 0");
        refuse(Step::Routine, at);
        return;
    }
    if (length != expected) {
        violation(at, "routine of " + std::to_string(length) + " bytes where the one of " +
                          std::to_string(expected) + " bytes was due");
        refuse(Step::Routine, at);
        return;
    }
    routines_.push_back(length);
    if (awaited == Awaited::Base) {
        phase_ = Phase::Programming;
    } else if (awaited == Awaited::Erase) {
        phase_ = Phase::Erasing;
    } else {
        phase_ = Phase::Transferring;
        sessionFramesAccepted_ = 0;
    }
    acknowledge(Step::Routine, at);
}

void OptionUnitModel::handleErase(const std::vector<std::uint8_t>& command, Micros at) {
    if (command.size() != 4 || command[1] != 0x01 || sum8(command) != 0) {
        violation(at,
                  "erase command " + hexBytes(command) + ": expected 58 01 n c with a zero sum");
        refuse(Step::EraseBlock, at);
        return;
    }
    const std::uint8_t block = command[2];
    if (phase_ != Phase::Erasing) {
        violation(at, "erase command " + hexBytes(command) + " before the erase routine");
        refuse(block == kEraseEndBlock ? Step::EraseEnd : Step::EraseBlock, at);
        return;
    }
    if (block == kEraseEndBlock) {
        phase_ = Phase::Programming;
        acknowledge(Step::EraseEnd, at);
        return;
    }
    if (block >= kEraseBlocks) {
        violation(at, "erase command for block " + std::to_string(block) + ", which is not there");
        refuse(Step::EraseBlock, at);
        return;
    }
    if (faults_.eraseError && faults_.eraseError->block == block) {
        answer(Step::EraseBlock, {0xD8, faults_.eraseError->code}, at,
               {.delay = optionConfig_.eraseTime});
        return;
    }
    const auto [first, last] = kEraseBlockRanges[block];
    std::fill(memory_.begin() + first, memory_.begin() + last + 1, 0xFF);
    erasedBlocks_.push_back(block);
    acknowledge(Step::EraseBlock, at, optionConfig_.eraseTime);
}

bool OptionUnitModel::refuseNow(int ordinal) {
    return TakeRefusal(faults_.refusals, refusalsUsed_, ordinal) != nullptr;
}

void OptionUnitModel::handleFrame(const std::vector<std::uint8_t>& frame, Micros at) {
    const std::uint32_t address = readBigEndian32(&frame[1]);
    const int ordinal = sessionFramesAccepted_;
    frameArrived(ordinal);
    const auto refuseFrame = [&] {
        frames_.push_back(FrameRecord{address, at, false});
        answer(Step::Frame, {kNak}, at);
    };
    if (sum8(frame) != 0) {
        violation(at, "block frame for " + hex(address) + ": its bytes do not sum to 0");
        refuseFrame();
        return;
    }
    if (phase_ != Phase::Transferring) {
        violation(at, "block frame for " + hex(address) + " before the programming routine");
        refuseFrame();
        return;
    }
    if (address % kBlockSize != 0 || address >= kMemorySize) {
        violation(at, "block frame for " + hex(address) + ", not a block of the memory");
        refuseFrame();
        return;
    }
    if (refuseNow(ordinal)) {
        refuseFrame();
        return;
    }
    bool overUnerased = false;
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        std::uint8_t& cell = memory_[address + i];
        const std::uint8_t data = frame[5 + i];
        // Flash programming clears bits only.
        if ((cell & data) != data) {
            overUnerased = true;
        }
        cell &= data;
    }
    if (overUnerased) {
        violation(at, "block frame for " + hex(address) + " programs cells that are not erased");
    }
    frames_.push_back(FrameRecord{address, at, true});
    ++sessionFramesAccepted_;
    acknowledge(Step::Frame, at);
    checkVanish(ordinal);
}

void OptionUnitModel::handleEndFrame(const std::vector<std::uint8_t>& frame, Micros at) {
    const std::vector<std::uint8_t> expected{0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4};
    if (frame != expected) {
        violation(at, "expected the end frame 50 FF FF FF FF B4, got " + hexBytes(frame));
        refuse(Step::EndFrame, at);
        return;
    }
    if (phase_ != Phase::Transferring) {
        violation(at, "end frame before the programming routine");
        refuse(Step::EndFrame, at);
        return;
    }
    ++endFrames_;
    if (faults_.refuseEndFrame) {
        refuse(Step::EndFrame, at);
        return;
    }
    phase_ = Phase::Transferred;
    acknowledge(Step::EndFrame, at);
}

}  // namespace qrb::sim
