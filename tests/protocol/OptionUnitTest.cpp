// The option unit write against the radio model in virtual time: the whole
// byte sequence, the command steps with their resends, pauses and result
// codes, the erase branch, and where a Cancel is read and where it is lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "OptionUnitBench.h"
#include "firmware/FirmwareError.h"
#include "writing/OptionUnit.h"
#include "writing/TargetProcedures.h"

namespace qrb {
namespace {

using test::Bytes;
using test::Micros;
using test::OptionBench;

struct CompleteCase {
    const char* name;
    bool blank;
    bool allAreas;
    bool encoded;
};

class OptionCompleteWrite : public ::testing::TestWithParam<CompleteCase> {};

// The whole run through the driver, compared byte for byte with the
// sequence the protocol prescribes; the unit's memory holds the image in
// every block sent, and the completion text shows both sums.
TEST_P(OptionCompleteWrite, SendsTheWholeSequenceAndProgramsTheImage) {
    const CompleteCase& c = GetParam();
    test::TempFolder folder(std::string("option-") + c.name);
    const test::OptionFile file =
        test::WriteOptionFile(folder, "TQX37_V0999.SFL", test::OptionRuns(), c.allAreas, c.encoded);
    sim::OptionUnitConfig config;
    config.blank = c.blank;
    OptionBench bench(kOptionUnit, {}, config);
    bench.state.SelectedFileName = file.path;
    bench.state.WriteAllAreas = c.allAreas;

    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(bench.run.RunWrite(), RunOutcome::Completed);
    const auto took = std::chrono::steady_clock::now() - started;
    RecordProperty(
        "wall_ms",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));

    EXPECT_TRUE(bench.radio.violations().empty()) << bench.radio.violationTexts().front();
    // After the handshake (A0, 65 01 41 59, 66, 06) comes the write.
    const Bytes sent = bench.sent();
    const Bytes expected = test::ExpectedOptionWrite(file.image, c.blank, c.allAreas);
    ASSERT_GE(sent.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), sent.end() - expected.size()))
        << "the bytes sent differ from the prescribed sequence";

    const std::vector<std::uint32_t> addresses = bench.radio.acceptedAddresses();
    ASSERT_EQ(addresses.size(), c.allAreas ? 1024u : 752u);
    EXPECT_EQ(addresses.front(), c.allAreas ? 0x00000u : 0x00800u);
    EXPECT_EQ(addresses.back(), c.allAreas ? 0x1FF80u : 0x17F80u);
    const std::uint32_t first = addresses.front(), end = addresses.back() + 128;
    EXPECT_TRUE(std::equal(file.image.begin() + first, file.image.begin() + end,
                           bench.radio.memory().begin() + first))
        << "the unit's memory differs from the image";

    std::vector<int> expectedErase;
    if (!c.blank) {
        for (int n = c.allAreas ? 0 : 2; n <= (c.allAreas ? 9 : 8); ++n)
            expectedErase.push_back(n);
    }
    EXPECT_EQ(bench.radio.erasedBlocks(), expectedErase);
    const std::vector<std::uint32_t> routines = c.blank
                                                    ? std::vector<std::uint32_t>{911, 1353}
                                                    : std::vector<std::uint32_t>{911, 1255, 1353};
    EXPECT_EQ(bench.radio.routinesLoaded(), routines);

    std::uint32_t imageSum = 0;
    for (std::uint8_t byte : file.image)
        imageSum += byte;
    EXPECT_EQ(bench.host.lastText(), "CHECKSUM\r\n        " + test::Hex8(imageSum) +
                                         " (PC)\r\n        " + test::Hex8(bench.radio.memorySum()) +
                                         " (CPU)" + test::kCompletionTextForTests);
    EXPECT_EQ(bench.host.lastLamp(), 5);
    EXPECT_TRUE(bench.radio.endCommandReceived());
}

INSTANTIATE_TEST_SUITE_P(
    Units, OptionCompleteWrite,
    ::testing::Values(CompleteCase{"not_blank_middle_plain", false, false, false},
                      CompleteCase{"blank_middle_encoded", true, false, true},
                      CompleteCase{"not_blank_all_areas_encoded", false, true, true},
                      CompleteCase{"blank_all_areas_plain", true, true, false}),
    test::CaseName());

// A unit met and identified, with the bytes sent from then on recorded.
class OptionSteps : public ::testing::Test {
  protected:
    test::TempFolder folder{"option-steps"};
    OptionBench bench{kOptionUnit, {}, sim::OptionUnitConfig{}};

    void SetUp() override { Start(); }
    void Start() {
        const test::OptionFile file =
            test::WriteOptionFile(folder, "TQX37_V0999.SFL", test::OptionRuns(), false, false);
        bench.state.SelectedFileName = file.path;
        ASSERT_TRUE(bench.Handshake());
        bench.mark();
    }
    // Runs the parameter commands (all must succeed).
    void Parameters() {
        for (auto step :
             {QueryProgrammingUnit, SelectDevice, SelectClockMode, SelectBitRate, ConfirmBitRate})
            ASSERT_EQ(step(bench.fw()), StepResult::Ok);
    }
    void ProgrammingState() {
        Parameters();
        ASSERT_EQ(EnterProgrammingState(bench.fw()), StepResult::Ok);
        ASSERT_EQ(SendRoutine(bench.fw(), BaseRoutine()), StepResult::Ok);
    }
    std::size_t Count(std::uint8_t byte) {
        const Bytes sent = bench.sentSinceMark();
        return static_cast<std::size_t>(std::count(sent.begin(), sent.end(), byte));
    }
};

struct CommandCase {
    const char* name;
    StepResult (*step)(WriteFramework&);
    Bytes command;
    int pauseMs;
};

class OptionParameterCommands : public OptionSteps,
                                public ::testing::WithParamInterface<CommandCase> {};

// Each command goes out whole after its pause, then 2 ms pass before the
// answer is awaited.
TEST_P(OptionParameterCommands, GoOutAfterTheirPause) {
    const CommandCase& c = GetParam();
    // The commands before it in the sequence, so the unit takes it.
    for (auto step : {QueryProgrammingUnit, SelectDevice, SelectClockMode, SelectBitRate}) {
        if (step == c.step)
            break;
        ASSERT_EQ(step(bench.fw()), StepResult::Ok);
    }
    bench.mark();
    const Micros start = bench.line.now();
    EXPECT_EQ(c.step(bench.fw()), StepResult::Ok);
    EXPECT_EQ(bench.sentSinceMark(), c.command);
    const std::vector<Micros> times = bench.sendTimesSinceMark();
    EXPECT_EQ(times.front() - start, std::chrono::milliseconds(c.pauseMs));
    EXPECT_EQ(times.back(), times.front());  // back to back
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionParameterCommands,
    ::testing::Values(
        CommandCase{"QueryProgrammingUnit", QueryProgrammingUnit, {0x27}, 10},
        CommandCase{"SelectDevice", SelectDevice, {0x10, 0x04, 0x30, 0x31, 0x30, 0x31, 0x2A}, 10},
        CommandCase{"SelectClockMode", SelectClockMode, {0x11, 0x01, 0x00, 0xEE}, 10},
        CommandCase{"SelectBitRate",
                    SelectBitRate,
                    {0x3F, 0x07, 0x00, 0x30, 0x06, 0x90, 0x01, 0x01, 0x01, 0xF1},
                    10},
        CommandCase{"ConfirmBitRate", ConfirmBitRate, {0x06}, 50}),
    test::CaseName());

struct ResendCase {
    const char* name;
    std::function<void(sim::OptionUnitFaults&)> fault;
    StepResult (*step)(WriteFramework&);
    std::uint8_t command;
    StepResult expected;
    std::size_t sends;
};

class OptionResends : public OptionSteps, public ::testing::WithParamInterface<ResendCase> {};

// Missing or negative answers are asked for again up to three sends (one for
// ConfirmBitRate); answers of 27 with a wrong sum again without limit.
TEST_P(OptionResends, FollowTheStepsSendLimit) {
    const ResendCase& c = GetParam();
    c.fault(bench.radio.faults());
    for (auto step :
         {QueryProgrammingUnit, SelectDevice, SelectClockMode, SelectBitRate, ConfirmBitRate}) {
        if (step == c.step)
            break;
        ASSERT_EQ(step(bench.fw()), StepResult::Ok);
    }
    bench.mark();
    EXPECT_EQ(c.step(bench.fw()), c.expected);
    EXPECT_EQ(bench.sentSinceMark().size(), c.sends * (c.command == 0x10 ? 7u : 1u));
    EXPECT_EQ(bench.sentSinceMark().front(), c.command);
}

sim::AnswerSelector Answers(sim::Step step, int first, int count) {
    return sim::AnswerSelector{step, first, count};
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionResends,
    ::testing::Values(
        ResendCase{"device_garbage_once",
                   [](auto& f) { f.garbageInstead = Answers(sim::Step::SelectDevice, 0, 1); },
                   SelectDevice, 0x10, StepResult::Ok, 2},
        ResendCase{"device_garbage_three_times",
                   [](auto& f) { f.garbageInstead = Answers(sim::Step::SelectDevice, 0, 3); },
                   SelectDevice, 0x10, StepResult::Failed, 3},
        ResendCase{"device_silent",
                   [](auto& f) { f.silentFrom = Answers(sim::Step::SelectDevice, 0, 1); },
                   SelectDevice, 0x10, StepResult::Failed, 3},
        ResendCase{"confirm_garbage_once",
                   [](auto& f) { f.garbageInstead = Answers(sim::Step::ConfirmBitRate, 0, 1); },
                   ConfirmBitRate, 0x06, StepResult::Failed, 1},
        ResendCase{"unit_wrong_sum_once",
                   [](auto& f) { f.badCheck = Answers(sim::Step::QueryProgrammingUnit, 0, 1); },
                   QueryProgrammingUnit, 0x27, StepResult::Ok, 2},
        ResendCase{"unit_wrong_sum_five_times",
                   [](auto& f) { f.badCheck = Answers(sim::Step::QueryProgrammingUnit, 0, 5); },
                   QueryProgrammingUnit, 0x27, StepResult::Ok, 6},
        ResendCase{"unit_other_than_0080", [](auto& f) { f.programmingUnit = 0x0100; },
                   QueryProgrammingUnit, 0x27, StepResult::Failed, 1},
        ResendCase{"unit_wrong_sum_then_other_unit",
                   [](auto& f) {
                       f.badCheck = Answers(sim::Step::QueryProgrammingUnit, 0, 1);
                       f.programmingUnit = 0x0100;
                   },
                   QueryProgrammingUnit, 0x27, StepResult::BadChecksum, 2},
        ResendCase{"unit_silent",
                   [](auto& f) { f.silentFrom = Answers(sim::Step::QueryProgrammingUnit, 0, 1); },
                   QueryProgrammingUnit, 0x27, StepResult::Failed, 3}),
    test::CaseName());

// 27 answered with wrong sums is asked for again until a Cancel ends it: 10,
// because a wrong sum came before.
TEST_F(OptionSteps, CancelAfterWrongSumsGivesTen) {
    bench.radio.faults().badCheck = Answers(sim::Step::QueryProgrammingUnit, 0, sim::kEvery);
    bench.cancelWhen(bench.sentAtLeast(4));
    EXPECT_EQ(QueryProgrammingUnit(bench.fw()), StepResult::BadChecksum);
    EXPECT_EQ(Count(0x27), 4u);
}

TEST_F(OptionSteps, CancelDuringAParameterCommandEndsIt) {
    ASSERT_EQ(QueryProgrammingUnit(bench.fw()), StepResult::Ok);
    bench.cancelWhen(bench.sentAtLeast(2));
    EXPECT_EQ(SelectDevice(bench.fw()), StepResult::Failed);
    EXPECT_EQ(WriteOptionUnit(bench.fw()),
              StepResult::Failed);  // still set: the next command ends at once
}

// A Cancel during ConfirmBitRate lets it succeed; EnterProgrammingState sends
// 40 and then ends the write.
TEST_F(OptionSteps, CancelDuringConfirmBitRateEndsAfterFortyIsSent) {
    bench.radio.faults().slow = Answers(sim::Step::ConfirmBitRate, 0, 1);
    bench.cancelWhen(bench.sentAtLeast(23));  // 27, the three parameter commands, 06
    EXPECT_EQ(WriteOptionUnit(bench.fw()), StepResult::Failed);
    const Bytes sent = bench.sentSinceMark();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), 0x40);
    EXPECT_EQ(Count(0x40), 1u);
}

struct EnterCase {
    const char* name;
    sim::Grouping grouping;
    Micros enterDelay;
    std::optional<std::uint8_t> enterError;
    bool codeArrivesLater;  // the refusal byte and its code in two arrivals
    StepResult expected;
};

class OptionEnterProgrammingState : public OptionSteps,
                                    public ::testing::WithParamInterface<EnterCase> {};

// 40's ACK is polled for up to ten times (500 ms sleep, then a 500 ms wait);
// an ACK that came with the echo is dropped with it; a refusal gives the
// unit's following byte, or the refusal byte itself when nothing followed it.
TEST_P(OptionEnterProgrammingState, PollsForTheUnit) {
    const EnterCase& c = GetParam();
    Parameters();
    bench.radio.faults().enterError = c.enterError;
    const_cast<sim::OptionUnitConfig&>(bench.radio.optionConfig()).enterDelay = c.enterDelay;
    bench.line.options().grouping = c.grouping;
    if (c.codeArrivesLater)
        bench.radio.faults().split = Answers(sim::Step::EnterProgrammingState, 0, 1);
    bench.mark();
    EXPECT_EQ(EnterProgrammingState(bench.fw()), c.expected);
    EXPECT_EQ(bench.sentSinceMark(), Bytes{0x40});
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionEnterProgrammingState,
    ::testing::Values(
        EnterCase{"ready_after_a_second",
                  sim::Grouping::PerBurst,
                  Micros{1'200'000},
                  {},
                  false,
                  StepResult::Ok},
        EnterCase{"ready_after_nine_seconds",
                  sim::Grouping::PerBurst,
                  Micros{9'000'000},
                  {},
                  false,
                  StepResult::Ok},
        EnterCase{"never_ready",
                  sim::Grouping::PerBurst,
                  Micros{30'000'000},
                  {},
                  false,
                  StepResult::Failed},
        EnterCase{"ack_with_the_echo",
                  sim::Grouping::EchoWithAnswer,
                  Micros{1'000},
                  {},
                  false,
                  StepResult::Failed},
        EnterCase{"refused_in_one_event", sim::Grouping::PerBurst, Micros{1'200'000}, 0x33, false,
                  UnitCode(0xC0)},
        // The refusal comes inside a poll's wait (not its sleep), its code 3 ms later.
        EnterCase{"refused_then_its_code", sim::Grouping::PerBurst, Micros{750'000}, 0x33, true,
                  UnitCode(0x33)},
        EnterCase{"refused_with_code_0", sim::Grouping::PerBurst, Micros{750'000}, 0x00, true,
                  StepResult::Failed}),
    test::CaseName());

TEST_F(OptionSteps, NeverReadyGivesUpAfterTenPolls) {
    Parameters();
    const_cast<sim::OptionUnitConfig&>(bench.radio.optionConfig()).enterDelay = Micros{60'000'000};
    const Micros start = bench.line.now();
    EXPECT_EQ(EnterProgrammingState(bench.fw()), StepResult::Failed);
    // 10 ms, the echo, then ten polls of 500 ms sleep and 500 ms wait.
    const Micros took = bench.line.now() - start;
    EXPECT_GE(took, Micros{10'012'000});
    EXPECT_LT(took, Micros{10'020'000});
}

// A Cancel during the polls is read at the first routine byte.
TEST_F(OptionSteps, CancelDuringThePollsEndsBeforeTheFirstRoutineByte) {
    bench.cancelWhen(bench.sentAtLeast(24));  // up to 40
    EXPECT_EQ(WriteOptionUnit(bench.fw()), StepResult::Failed);
    EXPECT_EQ(bench.sentSinceMark().back(), 0x40);
}

struct RoutineCase {
    const char* name;
    StoredRoutine (*routine)();
    int pauseMs;
};

class OptionRoutineLoads : public OptionSteps, public ::testing::WithParamInterface<RoutineCase> {};

// A routine goes out byte by byte, 3 ms apart, after its pause; bar 1 counts
// the bytes over 0..N-1; the unit's ACK follows the echo of all N bytes.
TEST_P(OptionRoutineLoads, ArePacedAndCounted) {
    const RoutineCase& c = GetParam();
    Parameters();
    ASSERT_EQ(EnterProgrammingState(bench.fw()), StepResult::Ok);
    if (c.routine != BaseRoutine) {
        ASSERT_EQ(SendRoutine(bench.fw(), BaseRoutine()), StepResult::Ok);
        ASSERT_EQ(QueryBootStatus(bench.fw()), StepResult::Ok);
        ASSERT_EQ((c.routine == EraseRoutine ? SelectErase : SelectProgramming)(bench.fw()),
                  StepResult::Ok);
    }
    const StoredRoutine routine = c.routine();
    const int n = static_cast<int>(routine.bytes.size());
    bench.mark();
    bench.host.barMoves.clear();
    const Micros start = bench.line.now();
    ASSERT_EQ(SendRoutine(bench.fw(), routine), StepResult::Ok);

    EXPECT_EQ(bench.sentSinceMark(), Bytes(routine.bytes.begin(), routine.bytes.end()));
    const std::vector<Micros> times = bench.sendTimesSinceMark();
    EXPECT_EQ(times.front() - start, std::chrono::milliseconds(c.pauseMs));
    for (std::size_t i = 1; i < times.size(); ++i)
        ASSERT_EQ(times[i] - times[i - 1], Micros{3'000}) << "byte " << i;
    EXPECT_EQ(bench.fw().ReceivedCount, n + 1);
    EXPECT_EQ(bench.host.bar1.maximum, n - 1);
    ASSERT_EQ(bench.host.barMoves.size(), static_cast<std::size_t>(n + 1));
    EXPECT_EQ(bench.host.barMoves[1].position, 1);
    EXPECT_EQ(bench.host.barMoves[static_cast<std::size_t>(n) - 1].position, n - 1);
    EXPECT_EQ(bench.host.barMoves.back().position, n - 1);  // a full bar, not beyond it
}

INSTANTIATE_TEST_SUITE_P(Routines, OptionRoutineLoads,
                         ::testing::Values(RoutineCase{"Base", BaseRoutine, 10},
                                           RoutineCase{"Erase", EraseRoutine, 100},
                                           RoutineCase{"Program", ProgramRoutine, 100}),
                         test::CaseName());

// A Cancel during a routine load ends it before the next byte.
TEST_F(OptionSteps, CancelDuringARoutineEndsBeforeTheNextByte) {
    Parameters();
    ASSERT_EQ(EnterProgrammingState(bench.fw()), StepResult::Ok);
    bench.mark();
    bench.cancelWhen(bench.sentAtLeast(100));
    EXPECT_EQ(SendRoutine(bench.fw(), BaseRoutine()), StepResult::Failed);
    EXPECT_EQ(bench.line.counters().bytesSent, bench.cancelSentCount);
    EXPECT_LT(bench.sentSinceMark().size(), 110u);
}

TEST_F(OptionSteps, RoutineNotAcknowledgedIsOne) {
    bench.radio.faults().garbageInstead = Answers(sim::Step::Routine, 0, 1);
    Parameters();
    ASSERT_EQ(EnterProgrammingState(bench.fw()), StepResult::Ok);
    EXPECT_EQ(SendRoutine(bench.fw(), BaseRoutine()), StepResult::Failed);
}

// A Cancel during SelectProgramming is read at the first byte of the
// programming routine.
TEST_F(OptionSteps, CancelDuringSelectProgrammingEndsBeforeTheProgrammingRoutine) {
    // A blank unit: SelectProgramming follows the blank check directly.
    OptionBench blank(kOptionUnit, {}, test::BlankUnit());
    blank.radio.faults().slow = Answers(sim::Step::SelectProgramming, 0, 1);
    blank.state.SelectedFileName = bench.state.SelectedFileName;
    ASSERT_TRUE(blank.Handshake());
    blank.mark();
    const auto selectProgrammingSent = blank.lastSentIs(0x43);
    blank.cancelWhen(
        [&] { return blank.radio.routinesLoaded().size() == 1 && selectProgrammingSent(); });
    EXPECT_EQ(WriteOptionUnit(blank.fw()), StepResult::Failed);
    EXPECT_EQ(blank.sentSinceMark().back(), 0x43);
    EXPECT_EQ(blank.radio.routinesLoaded(), std::vector<std::uint32_t>{911});
}

struct StatusCase {
    const char* name;
    int occurrence;  // which 4F of the write
    int blocksSent;  // frames before the failing 4F
};

class OptionBootStatus : public OptionSteps, public ::testing::WithParamInterface<StatusCase> {};

// A non-zero status byte in any of the four 4F queries ends the write with
// that byte.
TEST_P(OptionBootStatus, NonZeroStatusEndsTheWriteWithIt) {
    const StatusCase& c = GetParam();
    bench.radio.faults().bootStatusError = sim::OptionUnitFaults::BootStatus{c.occurrence, 0x3C};
    EXPECT_EQ(WriteOptionUnit(bench.fw()), UnitCode(0x3C));
    EXPECT_EQ(bench.radio.acceptedAddresses().size(), static_cast<std::size_t>(c.blocksSent));
    EXPECT_EQ(bench.sentSinceMark().back(), 0x4F);
    EXPECT_EQ(bench.host.okBoxes, 0);
}

INSTANTIATE_TEST_SUITE_P(Queries, OptionBootStatus,
                         ::testing::Values(StatusCase{"after_the_base_routine", 0, 0},
                                           StatusCase{"before_erasing", 1, 0},
                                           StatusCase{"before_programming", 2, 0},
                                           StatusCase{"after_the_transfer", 3, 752}),
                         test::CaseName());

struct BlankCase {
    const char* name;
    std::function<void(sim::OptionUnitFaults&)> fault;
    StepResult expected;
};

class OptionCheckBlank : public OptionSteps, public ::testing::WithParamInterface<BlankCase> {};

// CD with a code other than 52 ends the write with that code (a code 0
// cannot, so it is 1); no answer is 1; none of these erases anything.
TEST_P(OptionCheckBlank, RefusalsEndTheWrite) {
    const BlankCase& c = GetParam();
    c.fault(bench.radio.faults());
    ProgrammingState();
    ASSERT_EQ(QueryBootStatus(bench.fw()), StepResult::Ok);
    EXPECT_EQ(CheckBlank(bench.fw()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, OptionCheckBlank,
    ::testing::Values(
        BlankCase{"not_blank", [](auto&) {}, StepResult::NotBlank},
        BlankCase{"error_code_41", [](auto& f) { f.checkBlankError = 0x41; }, UnitCode(0x41)},
        BlankCase{"error_code_0", [](auto& f) { f.checkBlankError = 0x00; }, StepResult::Failed},
        BlankCase{"garbage",
                  [](auto& f) { f.garbageInstead = Answers(sim::Step::CheckBlank, 0, 1); },
                  StepResult::Failed},
        BlankCase{"silent", [](auto& f) { f.silentFrom = Answers(sim::Step::CheckBlank, 0, 1); },
                  StepResult::Failed}),
    test::CaseName());

TEST_F(OptionSteps, CheckBlankErrorEndsTheWriteWithoutErasing) {
    bench.radio.faults().checkBlankError = 0x41;
    EXPECT_EQ(WriteOptionUnit(bench.fw()), UnitCode(0x41));
    EXPECT_TRUE(bench.radio.erasedBlocks().empty());
    EXPECT_EQ(bench.sentSinceMark().back(), 0x4D);
}

// Time from the last byte the unit sent until now.
Micros SilenceSinceLastArrival(const OptionBench& bench) {
    const auto& trace = bench.line.trace();
    for (auto it = trace.rbegin(); it != trace.rend(); ++it) {
        if (it->direction == sim::TraceEntry::Direction::FromRadio)
            return bench.line.now() - it->at;
    }
    return Micros{-1};
}

struct BlankWaitCase {
    const char* name;
    bool blankUnit;
    std::function<void(sim::OptionUnitFaults&)> fault;
    StepResult expected;
};

class OptionCheckBlankWait : public ::testing::TestWithParam<BlankWaitCase> {};

// 4D waits for three bytes: after the echo only 5 s of silence end the wait.
// ACK alone (a blank unit) is blank once that silence has passed; CD alone
// is a failure after it.
TEST_P(OptionCheckBlankWait, EndsAfterFiveSecondsOfSilence) {
    const BlankWaitCase& c = GetParam();
    test::TempFolder folder(std::string("option-blank-") + c.name);
    sim::OptionUnitConfig config;
    config.blank = c.blankUnit;
    OptionBench bench(kOptionUnit, {}, config);
    c.fault(bench.radio.faults());
    bench.state.SelectedFileName =
        test::WriteOptionFile(folder, "TQX37_V0999.SFL", test::OptionRuns(), false, false).path;
    ASSERT_TRUE(bench.Handshake());
    for (auto step : {QueryProgrammingUnit, SelectDevice, SelectClockMode, SelectBitRate,
                      ConfirmBitRate, EnterProgrammingState})
        ASSERT_EQ(step(bench.fw()), StepResult::Ok);
    ASSERT_EQ(SendRoutine(bench.fw(), BaseRoutine()), StepResult::Ok);
    ASSERT_EQ(QueryBootStatus(bench.fw()), StepResult::Ok);
    EXPECT_EQ(CheckBlank(bench.fw()), c.expected);
    EXPECT_GE(SilenceSinceLastArrival(bench), Micros{5'000'000});
    EXPECT_LT(SilenceSinceLastArrival(bench), Micros{5'010'000});
}

INSTANTIATE_TEST_SUITE_P(
    Answers, OptionCheckBlankWait,
    ::testing::Values(BlankWaitCase{"ack_alone", true, [](auto&) {}, StepResult::Ok},
                      BlankWaitCase{
                          "cd_without_code", false,
                          [](auto& f) { f.truncate = Answers(sim::Step::CheckBlank, 0, 1); },
                          StepResult::Failed}),
    test::CaseName());

// A code that follows CD late still counts: the write runs the erase branch.
TEST_F(OptionSteps, ALateNotBlankCodeErasesBeforeProgramming) {
    bench.radio.faults().split = Answers(sim::Step::CheckBlank, 0, 1);
    bench.radio.faults().splitGap = Micros{1'500'000};
    EXPECT_EQ(WriteOptionUnit(bench.fw()), StepResult::Ok);
    EXPECT_EQ(bench.radio.erasedBlocks(), (std::vector<int>{2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(bench.radio.acceptedAddresses().size(), 752u);
}

struct EraseCase {
    const char* name;
    int block;
    std::uint8_t code;
    StepResult expected;
};

class OptionEraseErrors : public OptionSteps, public ::testing::WithParamInterface<EraseCase> {};

// The error pair D8 51 is 5, D8 11 is 10, any other pair 1; erasing stops
// at that block.
TEST_P(OptionEraseErrors, EndTheWriteWithTheirResult) {
    const EraseCase& c = GetParam();
    bench.radio.faults().eraseError = sim::OptionUnitFaults::EraseError{c.block, c.code};
    EXPECT_EQ(WriteOptionUnit(bench.fw()), c.expected);
    std::vector<int> erased;
    for (int n = 2; n < c.block; ++n)
        erased.push_back(n);
    EXPECT_EQ(bench.radio.erasedBlocks(), erased);
    const Bytes sent = bench.sentSinceMark();
    const Bytes last = {0x58, 0x01, static_cast<std::uint8_t>(c.block),
                        static_cast<std::uint8_t>(0xA7 - c.block)};
    ASSERT_GE(sent.size(), 4u);
    EXPECT_TRUE(std::equal(last.begin(), last.end(), sent.end() - 4));
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, OptionEraseErrors,
    ::testing::Values(EraseCase{"code_51", 4, 0x51, StepResult::EraseRefused51},
                      EraseCase{"code_11", 2, 0x11, StepResult::EraseRefused11},
                      EraseCase{"other_code", 8, 0x22, StepResult::Failed}),
    test::CaseName());

// Erase commands: 3 ms after each byte, 1400 ms before the answer is
// counted; the closing 58 01 FF A8, then 1000 ms.
TEST_F(OptionSteps, EraseCommandsArePacedAndClosed) {
    ProgrammingState();
    ASSERT_EQ(QueryBootStatus(bench.fw()), StepResult::Ok);
    ASSERT_EQ(CheckBlank(bench.fw()), StepResult::NotBlank);
    ASSERT_EQ(QueryBootStatus(bench.fw()), StepResult::Ok);
    ASSERT_EQ(SelectErase(bench.fw()), StepResult::Ok);
    ASSERT_EQ(SendRoutine(bench.fw(), EraseRoutine()), StepResult::Ok);
    bench.mark();
    const Micros start = bench.line.now();
    ASSERT_EQ(EraseBlocks(bench.fw()), StepResult::Ok);

    Bytes expected;
    for (int n = 2; n <= 8; ++n)
        test::Append(expected, Bytes{0x58, 0x01, static_cast<std::uint8_t>(n),
                                     static_cast<std::uint8_t>(0xA7 - n)});
    test::Append(expected, Bytes{0x58, 0x01, 0xFF, 0xA8});
    EXPECT_EQ(bench.sentSinceMark(), expected);
    const std::vector<Micros> times = bench.sendTimesSinceMark();
    EXPECT_EQ(times[0], start);
    EXPECT_EQ(times[3] - times[0], Micros{9'000});
    // The second command: after 3 ms, 1400 ms and the wait for the answer.
    EXPECT_GE(times[4] - times[3], Micros{1'403'000});
    EXPECT_EQ(bench.line.now() - times.back() >= Micros{1'003'000}, true);
}

// StopRequested is cleared before the waits of CheckBlank and of every erase
// command: a Cancel there is lost and the write completes.
TEST_F(OptionSteps, CancelDuringCheckBlankOrErasingIsLost) {
    bench.radio.faults().slow = Answers(sim::Step::CheckBlank, 0, 1);
    const auto checkBlankSent = bench.lastSentIs(0x4D);
    bench.cancelWhen([&] { return bench.radio.routinesLoaded().size() == 1 && checkBlankSent(); });
    OptionBench second(kOptionUnit, {}, sim::OptionUnitConfig{});
    second.state.SelectedFileName = bench.state.SelectedFileName;
    ASSERT_TRUE(second.Handshake());
    second.cancelWhen([&] { return second.radio.erasedBlocks().size() == 3; });

    EXPECT_EQ(WriteOptionUnit(bench.fw()), StepResult::Ok);
    EXPECT_GE(bench.cancelledAt, Micros{0});
    EXPECT_EQ(WriteOptionUnit(second.fw()), StepResult::Ok);
    EXPECT_GE(second.cancelledAt, Micros{0});
    EXPECT_EQ(second.radio.acceptedAddresses().size(), 752u);
}

TEST_F(OptionSteps, UnitSumWithAWrongCheckByteIsTen) {
    bench.radio.faults().badCheck = Answers(sim::Step::ReadUnitChecksum, 0, 1);
    EXPECT_EQ(WriteOptionUnit(bench.fw()), StepResult::BadChecksum);
    EXPECT_EQ(bench.host.okBoxes, 0);
}

TEST(OptionCpuChecksumText, ShowsTheFourBytesInUpperCaseHex) {
    const std::uint8_t sum[4] = {0x00, 0x1A, 0xbc, 0xDE};
    EXPECT_EQ(FormatCpuChecksumText(std::span<const std::uint8_t, 4>(sum)),
              "\r\n        001ABCDE (CPU)");
}

struct RefusedCase {
    const char* name;
    std::vector<std::string> lines;  // empty: no file at all
    test::ErrorCheck expectError;
};

class OptionRefusedFiles : public OptionSteps, public ::testing::WithParamInterface<RefusedCase> {};

// A file that cannot become the image stops the write before the first
// command: nothing reaches the unit, which is not erased.
TEST_P(OptionRefusedFiles, ThrowBeforeAnythingIsSent) {
    const RefusedCase& c = GetParam();
    bench.state.SelectedFileName =
        c.lines.empty() ? folder.file("TQX37_V0000.SFL")
                        : test::WriteLines(folder.path() / "TQX37_V0998.SFL", c.lines);
    c.expectError([this] { WriteOptionUnit(bench.fw()); });
    EXPECT_TRUE(bench.sentSinceMark().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, OptionRefusedFiles,
    ::testing::Values(RefusedCase{"data_beyond_1FFFF",
                                  {"HEADER", "S0030000FC", "S2081FFFFC0102030450", "S9030000FC"},
                                  test::ExpectThrows<FileRefusedError>},
                      RefusedCase{"no_record_start",
                                  {"HEADER ONLY", "S1070800010203046C"},
                                  test::ExpectThrows<FileRefusedError>},
                      RefusedCase{"missing_file", {}, test::ExpectThrows<FileAccessError>}),
    test::CaseName());

}  // namespace
}  // namespace qrb
