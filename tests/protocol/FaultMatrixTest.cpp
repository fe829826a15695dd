// The fault matrix in virtual time: every exchange step of the three targets'
// writes against silence, a refusal or error code, a garbage byte, a wrong
// check byte and a vanished port. Each cell is a whole write; a failing cell
// must end in the failure text and "Problem on COM port" within the step's
// time-outs, and the retry after OK must write the unit byte for byte. Cells
// the protocol does not fail (a byte it never examines, a resend that helps)
// record what the protocol makes of them instead. The tables go to stdout.
//
// Faults stay on from the chosen answer until the radio is switched off and
// on (which the failure text tells the person to do), unless a row says it
// bends one answer only.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "FaultMatrix.h"
#include "MasterCpuFiles.h"
#include "sim/MasterCpuModel.h"
#include "sim/OptionUnitModel.h"
#include "sim/SlaveCpuModel.h"
#include "writing/StoredRoutines.h"

namespace qrb {
namespace {

using sim::AnswerSelector;
using sim::CommonFaults;
using sim::kEvery;
using sim::Micros;
using sim::Step;
using std::chrono::milliseconds;
using test::Bytes;
using test::Cell;
using test::Expect;
using test::FaultKind;
using test::Script;
using test::StepRef;
using test::VanishWhen;

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;

// ---- files ----------------------------------------------------------------

class MatrixFolder {
  public:
    explicit MatrixFolder(const std::string& tag)
        : path_(std::filesystem::temp_directory_path() /
                ("qrb-fault-matrix-" + tag + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~MatrixFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    MatrixFolder(const MatrixFolder&) = delete;
    MatrixFolder& operator=(const MatrixFolder&) = delete;
    std::filesystem::path file(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

std::string IntelHexRecord(int type, std::uint16_t address, const Bytes& data) {
    std::string line = ":";
    unsigned sum = 0;
    const auto put = [&](unsigned byte) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", byte & 0xFFu);
        line += hex;
        sum += byte;
    };
    put(static_cast<unsigned>(data.size()));
    put(address >> 8u);
    put(address & 0xFFu);
    put(static_cast<unsigned>(type));
    for (std::uint8_t byte : data) {
        put(byte);
    }
    put(0x100u - (sum & 0xFFu));
    return line;
}

// ---- the bytes of a clean write, from the protocol tables -------------------

void Add(Script& script, const std::string& name, Bytes bytes) {
    script.push_back({name, std::move(bytes)});
}

Bytes WithZeroSum(Bytes bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) {
        sum += b;
    }
    bytes.push_back(static_cast<std::uint8_t>(0x100u - (sum & 0xFFu)));
    return bytes;
}

Bytes WithTrailingSum(Bytes bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) {
        sum += b;
    }
    bytes.push_back(static_cast<std::uint8_t>(sum & 0xFFu));
    return bytes;
}

// Ready byte met, identification, and the version: E1 01 E2 for the Master
// CPU; 66 and the PC's ACK for the other units.
Script HandshakeScript(Bytes identification, bool masterVersion) {
    Script script;
    Add(script, "ready", {});
    Add(script, "ready answer", {0xA0});
    Add(script, "identification", std::move(identification));
    if (masterVersion) {
        Add(script, "version", {0xE1, 0x01, 0xE2});
    } else {
        Add(script, "version", {0x66});
        Add(script, "version ACK", {kAck});
    }
    return script;
}

const Bytes kEndCommand = {0x38, 0x01, 0x39};
const Bytes kEndFrame = {0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4};

// ---- faults ---------------------------------------------------------------

// From the occurrence-th answer of the step on (answers count over the
// radio's life; every cell starts with a new radio).
AnswerSelector From(Step step, int occurrence = 0) {
    return AnswerSelector{step, occurrence, kEvery};
}
AnswerSelector Only(Step step, int occurrence = 0) {
    return AnswerSelector{step, occurrence, 1};
}

auto Silent(Step step, int occurrence = 0) {
    return [=](CommonFaults& f) { f.silentFrom = Only(step, occurrence); };
}
// The one answer is lost; the unit answers the next command again.
auto LostOnce(Step step, int occurrence = 0) {
    return [=](CommonFaults& f) {
        f.truncate = Only(step, occurrence);
        f.truncateTo = 0;
    };
}
auto Garbage(Step step, int occurrence = 0) {
    return [=](CommonFaults& f) { f.garbageBefore = From(step, occurrence); };
}
auto GarbageOnce(Step step, int occurrence = 0) {
    return [=](CommonFaults& f) { f.garbageBefore = Only(step, occurrence); };
}
auto BadCheck(Step step, int occurrence = 0) {
    return [=](CommonFaults& f) { f.badCheck = From(step, occurrence); };
}
auto BadCheckOnce(Step step, int occurrence = 0) {
    return [=](CommonFaults& f) { f.badCheck = Only(step, occurrence); };
}
// NAK where the unit would answer ACK.
auto Nak(Step step, int occurrence = 0) {
    return [=](CommonFaults& f) {
        f.garbageInstead = From(step, occurrence);
        f.garbageByte = kNak;
    };
}
auto NakOnce(Step step, int occurrence = 0) {
    return [=](CommonFaults& f) {
        f.garbageInstead = Only(step, occurrence);
        f.garbageByte = kNak;
    };
}

template <class Faults>
Cell<Faults> Fails(FaultKind kind, int sends, std::function<void(Faults&)> inject) {
    return {kind, Expect::FailsThenRetryCompletes, sends, std::move(inject)};
}
template <class Faults>
Cell<Faults> Completes(FaultKind kind, int sends, std::function<void(Faults&)> inject) {
    return {kind, Expect::Completes, sends, std::move(inject)};
}
template <class Faults>
Cell<Faults> VanishFails(int sends) {
    return {FaultKind::Vanish, Expect::FailsThenRetryCompletes, sends, {}, VanishWhen::AfterStep};
}

// The time-outs of the receive framework: the first byte of a reply within
// the step's own limit, then at most 5 s of silence after each arrival.
constexpr milliseconds kSilence{5000};
constexpr milliseconds kSlack{100};  // pauses of 1 to 3 ms between the waits

// Rows every target shares: the ready byte, the identification and (for the
// Slave CPU and the option unit) the unit version.
template <class Faults>
std::vector<test::Row<Faults>> HandshakeRows(const std::string& foreignName) {
    using Row = test::Row<Faults>;
    std::vector<Row> rows;
    rows.push_back(Row{"ready (50)",
                       {"ready"},
                       kSilence + kSlack,  // no byte at all for 5 s
                       {Fails<Faults>(FaultKind::Silence, 1, Silent(Step::Ready)),
                        // A noise byte arrives with the first ready byte: that arrival is
                        // discarded whole and the next ready byte is met.
                        Completes<Faults>(FaultKind::Garbage, 1, GarbageOnce(Step::Ready)),
                        VanishFails<Faults>(1)}});
    rows.push_back(Row{"ready answer (A0, its echo)",
                       {"ready answer"},
                       kSilence + kSlack,  // WaitForReply(1, 5000) for the echo
                       {VanishFails<Faults>(1)}});
    rows.push_back(Row{
        "identification (65 01 ..)",
        {"identification"},
        3 * kSilence + kSlack,  // 3 sends, each answered by the echo and then silence
        {Fails<Faults>(FaultKind::Silence, 3, Silent(Step::Identification)),
         // Another unit's name with a correct sum.
         Fails<Faults>(FaultKind::Refusal, 1, [=](Faults& f) { f.identification = foreignName; }),
         // Whole (12 bytes) but shifted: the sum over the 8 answer bytes fails.
         Fails<Faults>(FaultKind::Garbage, 1, Garbage(Step::Identification)),
         Fails<Faults>(FaultKind::BadCheck, 1, BadCheck(Step::Identification)),
         // Nothing comes back: 3 sends of 500 ms each.
         VanishFails<Faults>(3)}});
    rows.push_back(Row{"identification, one answer lost",
                       {"identification"},
                       3 * kSilence + kSlack,
                       {Completes<Faults>(FaultKind::Silence, 2, LostOnce(Step::Identification))},
                       ""});
    if constexpr (std::is_same_v<Faults, sim::MasterFaults>) {
        rows.push_back(
            Row{"version (E1 01 E2)",
                {"version"},
                3 * kSilence + kSlack,  // first byte, the rest or the NAK's three bytes
                {Fails<Faults>(FaultKind::Silence, 1, Silent(Step::MasterVersion)),
                 Fails<Faults>(FaultKind::Refusal, 1, [](Faults& f) { f.refuseVersion = true; }),
                 Fails<Faults>(FaultKind::Garbage, 1, Garbage(Step::MasterVersion)),
                 Fails<Faults>(FaultKind::BadCheck, 1, BadCheck(Step::MasterVersion)),
                 VanishFails<Faults>(1)}});
    } else {
        rows.push_back(Row{"version (66)",
                           {"version"},
                           3 * 2 * kSilence + kSlack,  // 3 sends: the echo, then the answer
                           {Fails<Faults>(FaultKind::Silence, 3, Silent(Step::UnitVersion)),
                            // A wrong sum is not asked for again.
                            Fails<Faults>(FaultKind::Garbage, 1, Garbage(Step::UnitVersion)),
                            Fails<Faults>(FaultKind::BadCheck, 1, BadCheck(Step::UnitVersion)),
                            // No echo of 66: the step ends at once.
                            VanishFails<Faults>(1)}});
        rows.push_back(Row{"version, one answer lost",
                           {"version"},
                           3 * 2 * kSilence + kSlack,
                           {Completes<Faults>(FaultKind::Silence, 2, LostOnce(Step::UnitVersion))},
                           ""});
        rows.push_back(Row{"version ACK (06, its echo)",
                           {"version ACK"},
                           milliseconds(2 + 500) + kSlack,  // 2 ms, then WaitForReply(1, 500)
                           {VanishFails<Faults>(1)}});
    }
    return rows;
}

// The end command's echo is awaited but its outcome ignored: a port gone
// just before it leaves a completed write.
template <class Faults>
test::Row<Faults> EndCommandRow() {
    return {"end command (38 01 39)",
            {"end command"},
            milliseconds(6 + 500) + kSlack,
            {Cell<Faults>{FaultKind::Vanish, Expect::Completes, 1, {}, VanishWhen::AtStep}}};
}

// ---- Master CPU -----------------------------------------------------------

// The frame the Master CPU faults hit: block 1159, in the middle of phase 1.
constexpr int kMasterFrame = 1000;

struct MasterTarget {
    using Model = sim::MasterCpuModel;
    using Faults = sim::MasterFaults;

    std::string name = "Master CPU";
    std::string file;
    Bytes memory;  // what the radio holds after a write
    Script script;
    Micros deadline = std::chrono::minutes(10);

    explicit MasterTarget(const MatrixFolder& folder) {
        // Data in every phase of the block order, in the two ranges that are
        // never sent, and in the last block.
        const std::vector<test::DataRun> runs = {
            test::PatternRun(0x00000, 0x0400, 1), test::PatternRun(0x01180, 0x0300, 2),
            test::PatternRun(0x03000, 0x0100, 3), test::PatternRun(0x05000, 0x2000, 4),
            test::PatternRun(0x24000, 0x0800, 5), test::PatternRun(0x3FF80, 0x0080, 6)};
        file = test::WriteLines(folder.file("TN508001_M_V0999.SFL"), test::SRecordLines(runs));
        const Bytes image = test::ImageOf(runs);

        script = HandshakeScript({0x65, 0x01, 0x50, 0x4A}, true);
        memory.assign(image.size(), 0xFF);
        const auto sendBlock = [&](int block) {
            const auto at = image.begin() + block * 128;
            Bytes frame = {0xE0, 0x83, static_cast<std::uint8_t>(block / 256),
                           static_cast<std::uint8_t>(block % 256)};
            frame.insert(frame.end(), at, at + 128);
            Add(script, "frame", WithTrailingSum(frame));
            std::copy(at, at + 128, memory.begin() + block * 128);
        };
        for (int block = 160; block <= 2047; ++block) {
            sendBlock(block);
        }
        for (int block = 35; block <= 95; ++block) {
            sendBlock(block);
        }
        for (int block = 1; block <= 3; ++block) {
            sendBlock(block);
        }
        sendBlock(0);
        Add(script, "end command", kEndCommand);
    }

    std::unique_ptr<Model> makeModel() const { return std::make_unique<Model>(); }
    SharedState state() const {
        SharedState s;
        s.SelectedTarget = kMasterCpu;
        s.SelectedFileName = file;
        s.ComPortNumber = 1;
        return s;
    }
    Script scriptFor(const Model&) const { return script; }
    std::string memoryProblem(const Model& radio) const {
        const std::string diff = test::Difference(radio.memory(), memory);
        return diff.empty() ? "" : "the radio's memory differs from the file: " + diff;
    }
};

std::vector<test::Row<sim::MasterFaults>> MasterRows() {
    using Faults = sim::MasterFaults;
    using Row = test::Row<Faults>;
    std::vector<Row> rows = HandshakeRows<Faults>("DSP  ");
    const StepRef frame{"frame", kMasterFrame};
    // Per send: 2 ms, the first byte within 10 s, 5 s after each arrival for
    // the answer and again for its trailer; at most 3 sends.
    const milliseconds frameAllowance = 3 * (milliseconds(2 + 10000) + 2 * kSilence) + kSlack;
    rows.push_back(
        Row{"frame #1000 (block 1159)",
            frame,
            frameAllowance,
            {Fails<Faults>(FaultKind::Silence, 1, Silent(Step::Frame, kMasterFrame)),
             Fails<Faults>(FaultKind::Refusal, 1,
                           [](Faults& f) {
                               f.refusals = {{kMasterFrame, 0x03, 1}};
                           }),
             Fails<Faults>(FaultKind::Garbage, 1, Garbage(Step::Frame, kMasterFrame)),
             // The five bytes after the ACK are waited for, never examined.
             Completes<Faults>(FaultKind::BadCheck, 1, BadCheck(Step::Frame, kMasterFrame)),
             VanishFails<Faults>(1)}});
    // ACK alone: the transfer fails but goes on to the last frame (block 0),
    // and sends no end command. Each remaining frame and its answer take
    // about 40 ms of line time.
    rows.push_back(Row{"frame, the 5 bytes after its ACK lost",
                       frame,
                       milliseconds(500) + (1953 - kMasterFrame) * milliseconds(2 + 40) + kSlack,
                       {Cell<Faults>{FaultKind::Silence, Expect::FailsThenRetryCompletes, 1,
                                     [](Faults& f) {
                                         f.truncate = Only(Step::Frame, kMasterFrame);
                                         f.truncateTo = 1;
                                     },
                                     VanishWhen::AfterStep, StepRef{"frame", 1952}}},
                       ""});
    rows.push_back(Row{"frame, refused with code >= 8 once",
                       frame,
                       frameAllowance,
                       {Completes<Faults>(FaultKind::Refusal, 2,
                                          [](Faults& f) {
                                              f.refusals = {{kMasterFrame, 0x10, 1}};
                                          })},
                       ""});
    rows.push_back(Row{"frame, refused with code >= 8 3 times",
                       frame,
                       frameAllowance,
                       {Fails<Faults>(FaultKind::Refusal, 3,
                                      [](Faults& f) {
                                          f.refusals = {{kMasterFrame, 0x10, 3}};
                                      })},
                       ""});
    rows.push_back(EndCommandRow<Faults>());
    return rows;
}

// ---- Slave CPU ------------------------------------------------------------

constexpr int kSlaveFrame = 3;

struct SlaveTarget {
    using Model = sim::SlaveCpuModel;
    using Faults = sim::SlaveFaults;

    std::string name = "Slave CPU";
    std::string file;
    std::vector<std::string> lines;  // what the radio must hold after a write
    Script script;
    Micros deadline = std::chrono::minutes(10);

    explicit SlaveTarget(const MatrixFolder& folder) {
        // Header lines without a colon are not sent.
        std::vector<std::string> fileLines = {"RQ-7300 SLAVE CPU FAULT MATRIX", "VERSION 9.99", ""};
        lines.push_back(":020000040000FA");
        for (int record = 0; record < 12; ++record) {
            Bytes data(16);
            for (std::size_t k = 0; k < data.size(); ++k) {
                data[k] = static_cast<std::uint8_t>(record * 31 + static_cast<int>(k) * 7);
            }
            lines.push_back(IntelHexRecord(0, static_cast<std::uint16_t>(record * 16), data));
        }
        lines.push_back(":00000001FF");
        fileLines.insert(fileLines.end(), lines.begin(), lines.end());
        file = test::WriteLines(folder.file("TN508001_S_V0999.SFL"), fileLines);

        script = HandshakeScript({0x65, 0x01, 0x44, 0x56}, false);
        Add(script, "select erase", {0x48});
        for (const std::string& line : lines) {
            Bytes frame = {0x50, 0x00, static_cast<std::uint8_t>(line.size())};
            frame.insert(frame.end(), line.begin(), line.end());
            Add(script, "line frame", WithZeroSum(frame));
        }
        Add(script, "end frame", kEndFrame);
        Add(script, "end command", kEndCommand);
    }

    std::unique_ptr<Model> makeModel() const { return std::make_unique<Model>(); }
    SharedState state() const {
        SharedState s;
        s.SelectedTarget = kSlaveCpu;
        s.SelectedFileName = file;
        s.ComPortNumber = 1;
        return s;
    }
    Script scriptFor(const Model&) const { return script; }
    std::string memoryProblem(const Model& radio) const {
        if (radio.lines() == lines) {
            return "";
        }
        return "the radio holds " + std::to_string(radio.lines().size()) +
               " lines that differ from the file's " + std::to_string(lines.size());
    }
};

std::vector<test::Row<sim::SlaveFaults>> SlaveRows() {
    using Faults = sim::SlaveFaults;
    using Row = test::Row<Faults>;
    std::vector<Row> rows = HandshakeRows<Faults>("OLU-6");
    rows.push_back(
        Row{"select erase (48)",
            {"select erase"},
            milliseconds(2) + 2 * kSilence + kSlack,  // WaitForReply(2, 5000)
            {Fails<Faults>(FaultKind::Silence, 1, Silent(Step::SelectErase)),
             Fails<Faults>(FaultKind::Refusal, 1, [](Faults& f) { f.refuseSelectErase = true; }),
             Fails<Faults>(FaultKind::Garbage, 1, Garbage(Step::SelectErase)),
             VanishFails<Faults>(1)}});
    rows.push_back(Row{"line frame #3",
                       {"line frame", kSlaveFrame},
                       milliseconds(10000) + kSilence + kSlack,  // WaitForReply(L + 5, 10000)
                       {Fails<Faults>(FaultKind::Silence, 1, Silent(Step::Frame, kSlaveFrame)),
                        Fails<Faults>(FaultKind::Refusal, 1,
                                      [](Faults& f) {
                                          f.refusals = {{kSlaveFrame, 0, 1}};
                                      }),
                        Fails<Faults>(FaultKind::Garbage, 1, Garbage(Step::Frame, kSlaveFrame)),
                        VanishFails<Faults>(1)}});
    rows.push_back(Row{
        "end frame (50 FF FF FF FF B4)",
        {"end frame"},
        milliseconds(500) + kSilence + kSlack,  // WaitForReply(7, 500)
        {Fails<Faults>(FaultKind::Silence, 1, Silent(Step::EndFrame)),
         Fails<Faults>(FaultKind::Refusal, 1, [](Faults& f) { f.refuseEndFrame = true; }),
         Fails<Faults>(FaultKind::Garbage, 1, Garbage(Step::EndFrame)), VanishFails<Faults>(1)}});
    rows.push_back(EndCommandRow<Faults>());
    return rows;
}

// ---- option unit ----------------------------------------------------------

constexpr int kOptionFrame = 100;  // address 5800
constexpr int kEraseBlock = 5;     // the fourth erase command (blocks 2 to 8 are erased)

struct OptionTarget {
    using Model = sim::OptionUnitModel;
    using Faults = sim::OptionUnitFaults;

    std::string name = "option unit";
    std::string file;
    Bytes image;   // 128 KiB
    Bytes memory;  // what the unit holds after a write
    Script script;
    Micros deadline = std::chrono::minutes(45);

    explicit OptionTarget(const MatrixFolder& folder) {
        // Data below 800 and from 18000 on is never sent.
        const std::vector<test::DataRun> runs = {
            test::PatternRun(0x00000, 0x0100, 1), test::PatternRun(0x00800, 0x4000, 2),
            test::PatternRun(0x10000, 0x1000, 3), test::PatternRun(0x17F00, 0x0100, 4),
            test::PatternRun(0x18000, 0x0080, 5)};
        file = test::WriteLines(folder.file("TQX37_V0999.SFL"), test::SRecordLines(runs));
        image = test::ImageOf(runs);
        image.resize(sim::OptionUnitModel::kMemorySize);
        memory.assign(image.size(), 0xFF);
        std::copy(image.begin() + 0x800, image.begin() + 0x18000, memory.begin() + 0x800);
        script = ScriptFor(false);
    }

    // The write of a unit whose memory is blank or not: a unit that is not
    // blank is erased first.
    Script ScriptFor(bool blank) const {
        Script s = HandshakeScript({0x65, 0x01, 0x41, 0x59}, false);
        Add(s, "query unit", {0x27});
        Add(s, "select device", {0x10, 0x04, 0x30, 0x31, 0x30, 0x31, 0x2A});
        Add(s, "select clock mode", {0x11, 0x01, 0x00, 0xEE});
        Add(s, "select bit rate", {0x3F, 0x07, 0x00, 0x30, 0x06, 0x90, 0x01, 0x01, 0x01, 0xF1});
        Add(s, "confirm bit rate", {kAck});
        Add(s, "enter programming", {0x40});
        const auto routine = [](const StoredRoutine& r) {
            return Bytes(r.bytes.begin(), r.bytes.end());
        };
        Add(s, "routine", routine(BaseRoutine()));
        Add(s, "boot status", {0x4F});
        Add(s, "check blank", {0x4D});
        if (!blank) {
            Add(s, "boot status", {0x4F});
            Add(s, "select erase", {0x48});
            Add(s, "routine", routine(EraseRoutine()));
            for (int n = 2; n <= 8; ++n) {
                Add(s, "erase block",
                    {0x58, 0x01, static_cast<std::uint8_t>(n),
                     static_cast<std::uint8_t>(0xA7 - n)});
            }
            Add(s, "erase end", {0x58, 0x01, 0xFF, 0xA8});
        }
        Add(s, "boot status", {0x4F});
        Add(s, "select programming", {0x43});
        Add(s, "routine", routine(ProgramRoutine()));
        for (std::uint32_t block = 16; block <= 767; ++block) {
            const std::uint32_t address = block * 128;
            Bytes frame = {0x50, static_cast<std::uint8_t>(address >> 24),
                           static_cast<std::uint8_t>(address >> 16),
                           static_cast<std::uint8_t>(address >> 8),
                           static_cast<std::uint8_t>(address)};
            frame.insert(frame.end(), image.begin() + address, image.begin() + address + 128);
            Add(s, "block frame", WithZeroSum(frame));
        }
        Add(s, "end frame", kEndFrame);
        Add(s, "boot status", {0x4F});
        Add(s, "read sum", {0x4B});
        Add(s, "end command", kEndCommand);
        return s;
    }

    // A unit in service: old firmware in the blocks every write erases.
    std::unique_ptr<Model> makeModel() const { return std::make_unique<Model>(); }
    SharedState state() const {
        SharedState s;
        s.SelectedTarget = kOptionUnit;
        s.SelectedFileName = file;
        s.ComPortNumber = 1;
        s.WriteAllAreas = false;
        return s;
    }
    Script scriptFor(const Model& radio) const { return ScriptFor(radio.blank()); }
    std::string memoryProblem(const Model& radio) const {
        const std::string diff = test::Difference(radio.memory(), memory);
        return diff.empty() ? "" : "the unit's memory differs from the file: " + diff;
    }
};

std::vector<test::Row<sim::OptionUnitFaults>> OptionRows() {
    using Faults = sim::OptionUnitFaults;
    using Row = test::Row<Faults>;
    std::vector<Row> rows = HandshakeRows<Faults>("PANEL");

    // The command steps: pause, send, 2 ms, the first byte within t, then
    // 5 s of silence after each arrival.
    const auto command = [](int sends, int pauseMs, milliseconds waits) {
        return sends * (milliseconds(pauseMs + 2) + waits) + kSlack;
    };
    const milliseconds oneWait = kSilence;       // the echo comes at once, then silence
    const milliseconds twoWaits = 2 * kSilence;  // a second wait after the first answer
    const auto routineAllowance = [&](std::size_t size) {
        // 3 ms after each byte, then WaitForReply(N + 1, 5000) and silence.
        return milliseconds(3 * static_cast<long>(size)) + twoWaits + kSlack;
    };

    rows.push_back(
        Row{"query unit (27)",
            {"query unit"},
            command(3, 10, oneWait),
            {Fails<Faults>(FaultKind::Silence, 3, Silent(Step::QueryProgrammingUnit)),
             // A correct sum with another programming unit ends the step at once.
             Fails<Faults>(FaultKind::Refusal, 1, [](Faults& f) { f.programmingUnit = 0x0040; }),
             // Answers with a wrong sum are asked for again without limit; only
             // Cancel ends the step.
             Cell<Faults>{FaultKind::Garbage, Expect::ResendsUntilCancel, 5,
                          Garbage(Step::QueryProgrammingUnit)},
             Cell<Faults>{FaultKind::BadCheck, Expect::ResendsUntilCancel, 5,
                          BadCheck(Step::QueryProgrammingUnit)},
             VanishFails<Faults>(3)}});
    rows.push_back(
        Row{"query unit, one answer bent",
            {"query unit"},
            command(3, 10, oneWait),
            {Completes<Faults>(FaultKind::Silence, 2, LostOnce(Step::QueryProgrammingUnit)),
             Completes<Faults>(FaultKind::Garbage, 2, GarbageOnce(Step::QueryProgrammingUnit)),
             Completes<Faults>(FaultKind::BadCheck, 2, BadCheckOnce(Step::QueryProgrammingUnit))},
            ""});

    // The three parameter commands: up to 3 sends, ACK only.
    const auto parameterRow = [&](const std::string& name, const std::string& stepName, Step step) {
        return Row{name,
                   {stepName},
                   command(3, 10, oneWait),
                   {Fails<Faults>(FaultKind::Silence, 3, Silent(step)),
                    Fails<Faults>(FaultKind::Refusal, 3, Nak(step)),
                    Fails<Faults>(FaultKind::Garbage, 3, Garbage(step)), VanishFails<Faults>(3)}};
    };
    rows.push_back(parameterRow("select device (10 04 ..)", "select device", Step::SelectDevice));
    rows.push_back(Row{"select device, one answer bent",
                       {"select device"},
                       command(3, 10, oneWait),
                       {Completes<Faults>(FaultKind::Silence, 2, LostOnce(Step::SelectDevice)),
                        Completes<Faults>(FaultKind::Refusal, 2, NakOnce(Step::SelectDevice)),
                        Completes<Faults>(FaultKind::Garbage, 2, GarbageOnce(Step::SelectDevice))},
                       ""});
    rows.push_back(
        parameterRow("select clock mode (11 01 ..)", "select clock mode", Step::SelectClockMode));
    rows.push_back(
        parameterRow("select bit rate (3F 07 ..)", "select bit rate", Step::SelectBitRate));

    // Steps sent once and answered by ACK (or an error pair).
    // The unit counts its answers per step as the write sends the step, so
    // the step's occurrence in the write is the answer's occurrence too.
    const auto onceRow = [](const std::string& name, StepRef ref, milliseconds allowance, Step step,
                            std::function<void(Faults&)> refusal) {
        const int occurrence = ref.occurrence;
        Row row{name,
                std::move(ref),
                allowance,
                {Fails<Faults>(FaultKind::Silence, 1, Silent(step, occurrence)),
                 Fails<Faults>(FaultKind::Garbage, 1, Garbage(step, occurrence)),
                 VanishFails<Faults>(1)}};
        if (refusal) {
            row.cells.insert(row.cells.begin() + 1,
                             Fails<Faults>(FaultKind::Refusal, 1, std::move(refusal)));
        }
        return row;
    };
    rows.push_back(onceRow("confirm bit rate (06)", {"confirm bit rate"}, command(1, 50, oneWait),
                           Step::ConfirmBitRate, Nak(Step::ConfirmBitRate)));
    // The echo, then 10 polls of 500 ms sleep and a wait, then the error code.
    rows.push_back(
        onceRow("enter programming (40)", {"enter programming"},
                milliseconds(12) + oneWait + 10 * (milliseconds(500) + oneWait) + oneWait + kSlack,
                Step::EnterProgrammingState, [](Faults& f) { f.enterError = 0x33; }));

    const auto routineRow = [&](const std::string& name, int occurrence, std::size_t size) {
        return onceRow(name, {"routine", occurrence}, routineAllowance(size), Step::Routine,
                       Nak(Step::Routine, occurrence));
    };
    // Only reply byte 4 is examined: a shifted answer puts the answer's 00
    // there, and its check byte is never looked at.
    const auto bootStatusRow = [&](const std::string& name, int occurrence) {
        Row row = onceRow(name, {"boot status", occurrence}, command(1, 10, oneWait),
                          Step::QueryBootStatus, [occurrence](Faults& f) {
                              f.bootStatusError = Faults::BootStatus{occurrence, 0x01};
                          });
        row.cells.at(2) =
            Completes<Faults>(FaultKind::Garbage, 1, Garbage(Step::QueryBootStatus, occurrence));
        row.cells.push_back(
            Completes<Faults>(FaultKind::BadCheck, 1, BadCheck(Step::QueryBootStatus, occurrence)));
        return row;
    };

    rows.push_back(routineRow("base routine (911 bytes)", 0, BaseRoutine().bytes.size()));
    rows.push_back(bootStatusRow("boot status #1 (4F)", 0));
    rows.push_back(onceRow("check blank (4D, answered CD 52)", {"check blank"},
                           command(1, 10, twoWaits), Step::CheckBlank,
                           [](Faults& f) { f.checkBlankError = 0x41; }));
    rows.push_back(bootStatusRow("boot status #2, erase branch", 1));
    rows.push_back(onceRow("select erase (48)", {"select erase"}, command(1, 10, twoWaits),
                           Step::SelectErase, Nak(Step::SelectErase)));
    rows.push_back(routineRow("erase routine (1255 bytes)", 1, EraseRoutine().bytes.size()));
    // 4 bytes 3 ms apart, 1400 ms, then WaitForReply(5, 5000) and the
    // error pair's second byte within 500 ms.
    rows.push_back(onceRow("erase block 5 (58 01 05 A2)", {"erase block", kEraseBlock - 2},
                           milliseconds(12 + 1400 + 500) + twoWaits + kSlack, Step::EraseBlock,
                           [](Faults& f) {
                               f.eraseError = Faults::EraseError{kEraseBlock, 0x51};
                           }));
    rows.push_back(Row{"erase block 5, error code 11",
                       {"erase block", kEraseBlock - 2},
                       milliseconds(12 + 1400 + 500) + twoWaits + kSlack,
                       {Fails<Faults>(FaultKind::Refusal, 1,
                                      [](Faults& f) {
                                          f.eraseError = Faults::EraseError{kEraseBlock, 0x11};
                                      })},
                       ""});
    rows.push_back(onceRow("erase end (58 01 FF A8)", {"erase end"},
                           milliseconds(12) + oneWait + kSlack, Step::EraseEnd,
                           Nak(Step::EraseEnd)));
    rows.push_back(bootStatusRow("boot status #3", 2));
    rows.push_back(onceRow("select programming (43)", {"select programming"},
                           command(1, 10, oneWait), Step::SelectProgramming,
                           Nak(Step::SelectProgramming)));
    rows.push_back(routineRow("program routine (1353 bytes)", 2, ProgramRoutine().bytes.size()));
    // 133 bytes 4 ms apart, 2 ms, the echo within 10 s, then the check
    // byte and the ACK within 500 ms, 5 s after each arrival.
    rows.push_back(onceRow("block frame #100 (address 5800)", {"block frame", kOptionFrame},
                           milliseconds(133 * 4 + 2 + 10000 + 500) + twoWaits + kSlack, Step::Frame,
                           [](Faults& f) {
                               f.refusals = {{kOptionFrame, 0, 1}};
                           }));
    rows.push_back(onceRow("end frame (50 FF FF FF FF B4)", {"end frame"},
                           milliseconds(6 * 4) + twoWaits + kSlack, Step::EndFrame,
                           [](Faults& f) { f.refuseEndFrame = true; }));
    rows.push_back(bootStatusRow("boot status #4, after the blocks", 3));
    Row readSum =
        onceRow("read sum (4B)", {"read sum"}, command(1, 10, oneWait), Step::ReadUnitChecksum, {});
    readSum.cells.push_back(
        Fails<Faults>(FaultKind::BadCheck, 1, BadCheck(Step::ReadUnitChecksum)));
    rows.push_back(std::move(readSum));
    rows.push_back(EndCommandRow<Faults>());
    return rows;
}

// ---- the tests ------------------------------------------------------------

// A write without a fault must be byte-exact against the script, or every
// cell's comparison would be meaningless.
template <class Target>
void CheckCleanWrite(const Target& target) {
    using Faults = typename Target::Faults;
    const test::Row<Faults> row{"no fault", {"ready"}, kSilence, {}};
    const Cell<Faults> cell{FaultKind::Silence, Expect::Completes, 1, {}};
    const test::CellReport report = test::RunCell(target, row, cell);
    ASSERT_TRUE(report.passed()) << target.name << " without a fault: " << report.observed << "\n"
                                 << (report.problems.empty() ? "" : report.problems.front());
}

template <class Target>
void RunAndPrint(const Target& target,
                 const std::vector<test::Row<typename Target::Faults>>& rows) {
    const auto started = std::chrono::steady_clock::now();
    const std::vector<test::CellReport> reports = test::RunMatrix(target, rows);
    const auto took =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started);
    test::PrintMatrix(std::cout, target.name, rows, reports);
    std::cout << reports.size() << " cells in " << took.count()
              << " ms; \"!\" marks a cell whose outcome differs from the protocol's\n";
    ::testing::Test::RecordProperty("cells", static_cast<int>(reports.size()));
    ::testing::Test::RecordProperty("wall_ms", static_cast<int>(took.count()));
}

TEST(FaultMatrix, MasterCpu) {
    MatrixFolder folder("master");
    const MasterTarget target(folder);
    ASSERT_NO_FATAL_FAILURE(CheckCleanWrite(target));
    RunAndPrint(target, MasterRows());
}

TEST(FaultMatrix, SlaveCpu) {
    MatrixFolder folder("slave");
    const SlaveTarget target(folder);
    ASSERT_NO_FATAL_FAILURE(CheckCleanWrite(target));
    RunAndPrint(target, SlaveRows());
}

TEST(FaultMatrix, OptionUnit) {
    MatrixFolder folder("option");
    const OptionTarget target(folder);
    ASSERT_NO_FATAL_FAILURE(CheckCleanWrite(target));
    RunAndPrint(target, OptionRows());
}

}  // namespace
}  // namespace qrb
