// What every unit does alike: echo, ready bytes, identification, the unit
// version exchange of the Slave CPU and the option unit, the end command,
// answer scheduling with the common faults, violations.
#include "sim/RadioModel.h"

#include <algorithm>
#include <cstdio>

namespace qrb::sim {

const FrameRefusal* TakeRefusal(const std::vector<FrameRefusal>& refusals, std::vector<int>& used,
                                int ordinal) {
    used.resize(refusals.size(), 0);
    for (std::size_t i = 0; i < refusals.size(); ++i) {
        const FrameRefusal& refusal = refusals[i];
        if (refusal.frame == ordinal && (refusal.times == kEvery || used[i] < refusal.times)) {
            ++used[i];
            return &refusal;
        }
    }
    return nullptr;
}

std::vector<std::uint32_t> AcceptedNumbers(const std::vector<FrameRecord>& frames) {
    std::vector<std::uint32_t> numbers;
    for (const auto& frame : frames) {
        if (frame.accepted) {
            numbers.push_back(frame.number);
        }
    }
    return numbers;
}

namespace {

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kReadyByte = 0x50;
constexpr std::uint8_t kReadyAnswer = 0xA0;
constexpr std::uint8_t kIdentify = 0x65;
constexpr std::uint8_t kEnd = 0x38;
constexpr std::uint8_t kUnitVersion = 0x66;

// The identification command of each unit: 65 01 x y.
struct IdentificationCommand {
    Unit unit;
    std::uint8_t x;
    std::uint8_t y;
    const char* text;  // the 5 characters the unit answers with
};
constexpr IdentificationCommand kIdentifications[] = {
    {Unit::MasterCpu, 0x50, 0x4A, "PANEL"},
    {Unit::SlaveCpu, 0x44, 0x56, "DSP  "},
    {Unit::OptionUnit, 0x41, 0x59, "OLU-6"},
};

std::string hex2(std::uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

}  // namespace

std::uint8_t sum8(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint8_t>(sum & 0xFF);
}

void appendZeroSum(std::vector<std::uint8_t>& bytes) {
    bytes.push_back(static_cast<std::uint8_t>(0x100 - sum8(bytes)));
}

void appendTrailingSum(std::vector<std::uint8_t>& bytes) {
    bytes.push_back(sum8(bytes));
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += hex2(bytes[i]);
    }
    return text;
}

RadioModel::RadioModel(Unit unit, RadioConfig config) : unit_(unit), config_(config) {}

const char* RadioModel::unitName() const {
    switch (unit_) {
        case Unit::MasterCpu:
            return "master";
        case Unit::SlaveCpu:
            return "slave";
        case Unit::OptionUnit:
            return "olu6";
    }
    return "?";
}

void RadioModel::powerOn(Micros at) {
    poweredOn_ = true;
    connected_ = false;
    silent_ = false;
    ended_ = false;
    versionAckAwaited_ = false;
    lastAnswerAltered_ = false;
    command_.clear();
    output_.clear();
    lastReceivedAt_ = at;
    lastAnswerDue_ = at;
    nextReadyAt_ = at + config_.readyInterval;
    resetSession();
}

std::vector<std::string> RadioModel::violationTexts() const {
    std::vector<std::string> texts;
    texts.reserve(violations_.size());
    for (const auto& v : violations_) {
        texts.push_back(formatViolation(v));
    }
    return texts;
}

void RadioModel::recordViolation(Micros at, std::string what) {
    violations_.push_back(Violation{at, std::move(what)});
}

// ---- output -------------------------------------------------------------

void RadioModel::push(Burst burst) {
    if (burst.bytes.empty()) {
        return;
    }
    burst.sequence = nextSequence_++;
    // Keep the queue in due order; equal times stay in emission order.
    auto pos = output_.end();
    while (pos != output_.begin() && std::prev(pos)->due > burst.due) {
        --pos;
    }
    output_.insert(pos, std::move(burst));
}

void RadioModel::scheduleEcho(std::uint8_t byte, Micros at) {
    const Micros due = at + config_.echoDelay;
    // Echoes of bytes that arrived together leave together.
    if (!output_.empty() && output_.back().kind == BurstKind::Echo && output_.back().due == due) {
        output_.back().bytes.push_back(byte);
        return;
    }
    push(Burst{due, {byte}, BurstKind::Echo, 0});
}

bool RadioModel::readyActive() const {
    return poweredOn_ && !connected_ && !silent_ && config_.readyInterval > Micros{0};
}

void RadioModel::emitReadyBytesUntil(Micros now) {
    while (readyActive() && nextReadyAt_ <= now) {
        const Micros due = nextReadyAt_;
        nextReadyAt_ += config_.readyInterval;
        const int occurrence = occurrences_[Step::Ready]++;
        const CommonFaults& f = commonFaults();
        if (f.silentFrom && f.silentFrom->step == Step::Ready &&
            f.silentFrom->first == occurrence) {
            silent_ = true;
            return;
        }
        std::vector<std::uint8_t> bytes{kReadyByte};
        if (f.garbageInstead && f.garbageInstead->covers(Step::Ready, occurrence)) {
            bytes = {f.garbageByte};
        } else if (f.garbageBefore && f.garbageBefore->covers(Step::Ready, occurrence)) {
            bytes.insert(bytes.begin(), f.garbageByte);
        }
        ++readySent_;
        push(Burst{due, std::move(bytes), BurstKind::Ready, 0});
    }
}

std::optional<Micros> RadioModel::nextDue() const {
    std::optional<Micros> next;
    if (!output_.empty()) {
        next = output_.front().due;
    }
    if (readyActive() && (!next || nextReadyAt_ < *next)) {
        next = nextReadyAt_;
    }
    return next;
}

std::vector<Burst> RadioModel::takeDue(Micros now) {
    emitReadyBytesUntil(now);
    std::vector<Burst> due;
    while (!output_.empty() && output_.front().due <= now) {
        due.push_back(std::move(output_.front()));
        output_.pop_front();
    }
    return due;
}

std::optional<Micros> RadioModel::answer(Step step, std::vector<std::uint8_t> bytes, Micros at,
                                         AnswerShape shape) {
    const CommonFaults& f = commonFaults();
    const int occurrence = occurrences_[step]++;
    const int anyIndex = answersSent_++;
    const auto hits = [&](const std::optional<AnswerSelector>& selector) {
        return selector &&
               (selector->covers(step, occurrence) || selector->covers(Step::Any, anyIndex));
    };
    lastAnswerAltered_ = true;
    if (silent_) {
        return std::nullopt;
    }
    if (f.silentFrom && ((f.silentFrom->step == step && f.silentFrom->first == occurrence) ||
                         (f.silentFrom->step == Step::Any && f.silentFrom->first == anyIndex))) {
        silent_ = true;
        return std::nullopt;
    }
    bool altered = false;
    if (hits(f.badCheck) && shape.hasCheckByte && !bytes.empty()) {
        bytes.back() = static_cast<std::uint8_t>(bytes.back() + 1);
        altered = true;
    }
    if (hits(f.truncate) && f.truncateTo >= 0 &&
        bytes.size() > static_cast<std::size_t>(f.truncateTo)) {
        bytes.resize(static_cast<std::size_t>(f.truncateTo));
        altered = true;
    }
    if (hits(f.garbageInstead)) {
        bytes = {f.garbageByte};
        altered = true;
    } else if (hits(f.garbageBefore)) {
        bytes.insert(bytes.begin(), f.garbageByte);
        altered = true;
    }
    lastAnswerAltered_ = altered;

    Micros delay = shape.delay < Micros{0} ? config_.answerDelay : shape.delay;
    if (hits(f.slow)) {
        delay += f.slowBy;
    }
    // Never ahead of the echo of the command's last byte, never ahead of an
    // earlier answer: the unit sends one answer after the other.
    Micros due = std::max({at + delay, at + config_.echoDelay, lastAnswerDue_});
    if (hits(f.split) && f.splitAfter > 0 &&
        bytes.size() > static_cast<std::size_t>(f.splitAfter)) {
        std::vector<std::uint8_t> rest(bytes.begin() + f.splitAfter, bytes.end());
        bytes.resize(static_cast<std::size_t>(f.splitAfter));
        push(Burst{due, std::move(bytes), BurstKind::Answer, 0});
        lastAnswerDue_ = due + f.splitGap;
        push(Burst{lastAnswerDue_, std::move(rest), BurstKind::Answer, 0});
        return due;
    }
    lastAnswerDue_ = due;
    push(Burst{due, std::move(bytes), BurstKind::Answer, 0});
    return due;
}

void RadioModel::vanishAfterScheduledOutput() {
    Micros last = lastAnswerDue_;
    for (const auto& burst : output_) {
        last = std::max(last, burst.due);
    }
    // The last answer still reaches the PC; nothing after it does.
    vanishAt_ = last;
}

void RadioModel::frameArrived(int frameOrdinal) {
    const CommonFaults& f = commonFaults();
    if (f.silentFromFrame && *f.silentFromFrame == frameOrdinal) {
        silent_ = true;
    }
}

void RadioModel::checkVanish(int frameOrdinal) {
    const CommonFaults& f = commonFaults();
    if (f.vanishAfterFrame && *f.vanishAfterFrame == frameOrdinal && !vanishAt_) {
        vanishAfterScheduledOutput();
    }
}

// ---- input --------------------------------------------------------------

void RadioModel::receive(std::uint8_t byte, Micros at) {
    ++bytesReceived_;
    if (!poweredOn_) {
        violation(at, "byte " + hex2(byte) + " while the unit is switched off");
        return;
    }
    at = std::max(at, lastReceivedAt_);
    lastReceivedAt_ = at;
    // Ready bytes due up to now went out before this byte was seen.
    emitReadyBytesUntil(at);
    if (!(silent_ && commonFaults().silenceEcho)) {
        scheduleEcho(byte, at);
    }
    if (!connected_) {
        if (byte == kReadyAnswer) {
            connected_ = true;
        } else {
            violation(at, "expected A0 (the answer to the ready byte), got " + hex2(byte));
        }
        return;
    }
    if (ended_) {
        violation(at, "byte " + hex2(byte) + " after the end command");
        return;
    }
    command_.push_back(byte);
    const int length = lengthOf(command_);
    if (length == kUnknownCommand) {
        violation(at, "unknown command " + hexBytes(command_));
        command_.clear();
        return;
    }
    if (length == kNeedMoreBytes || command_.size() < static_cast<std::size_t>(length)) {
        return;
    }
    std::vector<std::uint8_t> command;
    command.swap(command_);
    if (versionAckAwaited_) {
        versionAckAwaited_ = false;
        if (command.size() == 1 && command[0] == kAck) {
            ++versionAcks_;
            return;
        }
        // A repeated version command is the PC's retry after an answer it
        // did not see (it arrived with the echo and was discarded with it).
        const bool versionRetry = command.size() == 1 && command[0] == kUnitVersion;
        if (!lastAnswerAltered_ && !versionRetry) {
            violation(at,
                      "expected the PC's 06 after the version answer, got " + hexBytes(command));
        }
    }
    switch (command[0]) {
        case kIdentify:
            handleIdentification(command, at);
            return;
        case kEnd:
            handleEnd(command, at);
            return;
        case kUnitVersion:
            if (unit_ != Unit::MasterCpu) {
                handleUnitVersion(at);
                return;
            }
            break;
        default:
            break;
    }
    handleCommand(command, at);
}

int RadioModel::lengthOf(const std::vector<std::uint8_t>& prefix) const {
    if (versionAckAwaited_ && prefix.size() == 1 && prefix[0] == kAck) {
        return 1;
    }
    switch (prefix[0]) {
        case kIdentify:
            return 4;
        case kEnd:
            return 3;
        case kUnitVersion:
            if (unit_ != Unit::MasterCpu) {
                return 1;
            }
            break;
        default:
            break;
    }
    return commandLength(prefix);
}

void RadioModel::handleIdentification(const std::vector<std::uint8_t>& command, Micros at) {
    if (sum8(command) != 0) {
        violation(
            at, "identification command " + hexBytes(command) + ": the four bytes do not sum to 0");
        return;
    }
    const IdentificationCommand* addressed = nullptr;
    for (const auto& known : kIdentifications) {
        if (command[1] == 0x01 && command[2] == known.x && command[3] == known.y) {
            addressed = &known;
        }
    }
    if (addressed == nullptr) {
        violation(at, "unknown identification command " + hexBytes(command));
        return;
    }
    if (addressed->unit != unit_ && !config_.answerForeignIdentification) {
        return;  // another unit is addressed; this one keeps quiet
    }
    ++identificationsAnswered_;
    answer(Step::Identification, identificationAnswer(), at, {.hasCheckByte = true});
}

std::vector<std::uint8_t> RadioModel::identificationAnswer() const {
    std::string text;
    for (const auto& known : kIdentifications) {
        if (known.unit == unit_) {
            text = known.text;
        }
    }
    if (commonFaults().identification) {
        text = *commonFaults().identification;
    }
    text.resize(5, ' ');
    // Bytes 0 and 1 are not looked at by the PC: the command with its top
    // bit set and the length of the text.
    std::vector<std::uint8_t> bytes;
    bytes.reserve(8);
    bytes.push_back(static_cast<std::uint8_t>(kIdentify | 0x80));
    bytes.push_back(0x05);
    for (const char c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
    }
    appendZeroSum(bytes);
    return bytes;
}

void RadioModel::handleUnitVersion(Micros at) {
    std::vector<std::uint8_t> bytes{0x76, 0x02, static_cast<std::uint8_t>(config_.version >> 8),
                                    static_cast<std::uint8_t>(config_.version & 0xFF)};
    appendZeroSum(bytes);
    ++versionAnswers_;
    if (answer(Step::UnitVersion, std::move(bytes), at, {.hasCheckByte = true})) {
        versionAckAwaited_ = true;
    }
}

void RadioModel::handleEnd(const std::vector<std::uint8_t>& command, Micros at) {
    const std::vector<std::uint8_t> expected{0x38, 0x01, 0x39};
    if (command != expected) {
        violation(at, "expected the end command 38 01 39, got " + hexBytes(command));
        return;
    }
    if (!endCommandAt_) {
        endCommandAt_ = at;
    }
    ended_ = true;
}

}  // namespace qrb::sim
