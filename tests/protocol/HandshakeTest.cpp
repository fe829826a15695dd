// The handshake against the radio model in virtual time: meeting the ready
// byte, identifying the unit, reading its version, and every result code.
#include <gtest/gtest.h>

#include <algorithm>

#include "WriteRunBench.h"
#include "sim/MasterCpuModel.h"
#include "sim/OptionUnitModel.h"
#include "sim/SlaveCpuModel.h"
#include "sim/VirtualLine.h"
#include "writing/RadioQRB.h"

namespace qrb {
namespace {

using sim::AnswerSelector;
using sim::Micros;
using sim::Step;
using test::Ms;

using MasterUnit = test::UnitBench<sim::MasterCpuModel>;
using SlaveUnit = test::UnitBench<sim::SlaveCpuModel>;
using OptionUnit = test::UnitBench<sim::OptionUnitModel>;

Micros FirstSendOf(const sim::VirtualLine& line, std::uint8_t byte) {
    for (const sim::TraceEntry& e : line.trace()) {
        if (e.direction == sim::TraceEntry::Direction::ToRadio && e.byte == byte)
            return e.at;
    }
    return Micros(-1);
}

sim::MasterFaults MasterWith(void (*set)(sim::MasterFaults&)) {
    sim::MasterFaults faults;
    set(faults);
    return faults;
}

TEST(Handshake, MasterCpuIsIdentifiedAndItsVersionShown) {
    sim::RadioConfig config;
    config.version = 0x0A1F;
    MasterUnit bench(kMasterCpu, {}, config);

    ASSERT_EQ(bench.run.Handshake(), StepResult::Ok);

    EXPECT_EQ(bench.host.versionLabels[kMasterCpu], "0A1F");
    EXPECT_TRUE(bench.line.isOpen()) << "the port stays open for the transfer";
    const std::vector<std::uint8_t> expected = {0xA0, 0x65, 0x01, 0x50, 0x4A, 0xE1, 0x01, 0xE2};
    EXPECT_EQ(bench.sentBytes(), expected);
    EXPECT_TRUE(bench.radio.violationTexts().empty());
}

TEST(Handshake, PortIsSetUpFor38400With2StopBitsWhateverTheSetting) {
    MasterUnit bench(kMasterCpu, {});
    ASSERT_EQ(bench.run.Handshake(), StepResult::Ok);
    const PortSettings& used = bench.line.settings();
    EXPECT_EQ(bench.state.ComBitRate, 38400);
    EXPECT_EQ(used.bitRate, 38400);
    EXPECT_EQ(used.portNo, 3);
    EXPECT_EQ(used.charSize, 8);
    EXPECT_EQ(used.parity, TCommParityBits::cpbNone);
    EXPECT_EQ(used.stopBits, TCommStopBits::csb2);
    EXPECT_EQ(used.flowCtrl, TCommFlowCtrls::cfcNone);
}

TEST(Handshake, SlaveCpuAndOptionUnitVersionsAreReadAndAcknowledged) {
    sim::RadioConfig config;
    config.version = 0xB20C;
    SlaveUnit slave(kSlaveCpu, {}, config);
    ASSERT_EQ(slave.run.Handshake(), StepResult::Ok);
    EXPECT_EQ(slave.host.versionLabels[kSlaveCpu], "B20C");
    EXPECT_EQ(slave.sentBytes(),
              (std::vector<std::uint8_t>{0xA0, 0x65, 0x01, 0x44, 0x56, 0x66, ACK}));
    EXPECT_EQ(slave.radio.versionAcksReceived(), 1);

    sim::OptionUnitConfig optionConfig;
    optionConfig.version = 0x0307;
    OptionUnit option(kOptionUnit, {}, optionConfig);
    ASSERT_EQ(option.run.Handshake(), StepResult::Ok);
    EXPECT_EQ(option.host.versionLabels[kOptionUnit], "0307");
    EXPECT_EQ(option.sentBytes(),
              (std::vector<std::uint8_t>{0xA0, 0x65, 0x01, 0x41, 0x59, 0x66, ACK}));
}

TEST(ConnectRadio, PortThatCannotBeOpenedGives1) {
    sim::VirtualLineOptions options;
    options.failOpen = true;
    MasterUnit bench(kMasterCpu, options);
    EXPECT_EQ(bench.run.ConnectRadio(), StepResult::Failed);
    EXPECT_FALSE(bench.line.isOpen());
    EXPECT_TRUE(bench.sentBytes().empty());
}

TEST(ConnectRadio, FiveSecondsOfSilenceGive2) {
    sim::RadioConfig config;
    config.readyInterval = Micros(0);  // the radio never announces itself
    MasterUnit bench(kMasterCpu, {}, config);
    EXPECT_EQ(bench.run.ConnectRadio(), StepResult::NoReply);
    EXPECT_GE(bench.line.now(), Ms(5000));
    EXPECT_LE(bench.line.now(), Ms(5002));
    EXPECT_TRUE(bench.sentBytes().empty());
}

TEST(ConnectRadio, NoiseAheadOfTheReadyByteDiscardsTheWholeArrival) {
    // The first announcement is 7E 50 in one arrival: the 50 behind the noise
    // is not taken; the answer goes to the next announcement (300 ms later).
    MasterUnit bench(kMasterCpu, {}, sim::RadioConfig{}, MasterWith([](sim::MasterFaults& f) {
                         f.garbageBefore = AnswerSelector{Step::Ready, 0, 1};
                     }));
    ASSERT_EQ(bench.run.ConnectRadio(), StepResult::Ok);
    EXPECT_GE(FirstSendOf(bench.line, 0xA0), Ms(600));
    EXPECT_EQ(bench.timesSent(0xA0), 1);
}

TEST(ConnectRadio, NoiseKeepsItWaitingUntilCancelEndsIt) {
    // Noise every 300 ms: the 5 s silence rule never ends the wait.
    MasterUnit bench(kMasterCpu, {}, sim::RadioConfig{}, MasterWith([](sim::MasterFaults& f) {
                         f.garbageInstead = AnswerSelector{Step::Ready, 0, sim::kEvery};
                     }));
    bench.pressCancelAt(Ms(20000));
    test::FailIfStillRunningAt(bench.line, Ms(30000));
    EXPECT_EQ(bench.run.ConnectRadio(), StepResult::Failed);
    EXPECT_GE(bench.line.now(), Ms(20000));
    EXPECT_LE(bench.line.now(), Ms(20002));
    EXPECT_FALSE(bench.line.timerArmed());
    EXPECT_EQ(bench.timesSent(0xA0), 0);
}

TEST(IdentifyUnit, ResultCodes) {
    struct Case {
        const char* what;
        void (*fault)(sim::MasterFaults&);
        StepResult expected;
        int sends;
    };
    const Case cases[] = {
        {"wrong identification string", [](sim::MasterFaults& f) { f.identification = "PANEX"; },
         StepResult::Failed, 1},
        {"string right, sum wrong",
         [](sim::MasterFaults& f) {
             f.badCheck = AnswerSelector{Step::Identification, 0, 1};
         },
         StepResult::BadChecksum, 1},
        {"no answer: three sends, then 1",
         [](sim::MasterFaults& f) {
             f.silentFrom = AnswerSelector{Step::Identification, 0, 1};
         },
         StepResult::Failed, 3},
        {"answer cut short: resent",
         [](sim::MasterFaults& f) {
             f.truncate = AnswerSelector{Step::Identification, 0, 1};
             f.truncateTo = 7;
         },
         StepResult::Ok, 2},
    };
    for (const Case& c : cases) {
        MasterUnit bench(kMasterCpu, {}, sim::RadioConfig{}, MasterWith(c.fault));
        ASSERT_EQ(bench.run.ConnectRadio(), StepResult::Ok) << c.what;
        EXPECT_EQ(bench.run.IdentifyUnit(), c.expected) << c.what;
        EXPECT_EQ(bench.timesSent(0x65), c.sends) << c.what;
    }
}

TEST(IdentifyUnit, SlaveNameNeedsItsTwoTrailingSpaces) {
    sim::SlaveFaults faults;
    faults.identification = "DSP-X";
    SlaveUnit bench(kSlaveCpu, {}, sim::RadioConfig{}, faults);
    ASSERT_EQ(bench.run.ConnectRadio(), StepResult::Ok);
    EXPECT_EQ(bench.run.IdentifyUnit(), StepResult::Failed);
}

TEST(IdentifyUnit, EchoAndAnswerInOneReceiveEvent) {
    sim::VirtualLineOptions options;
    options.grouping = sim::Grouping::EchoWithAnswer;
    MasterUnit bench(kMasterCpu, options);
    EXPECT_EQ(bench.run.Handshake(), StepResult::Ok);
    EXPECT_EQ(bench.timesSent(0x65), 1);
    EXPECT_EQ(bench.timesSent(0xE1), 1);
}

TEST(IdentifyUnit, CancelIsSeenAfterTheWait) {
    MasterUnit bench(kMasterCpu, {}, sim::RadioConfig{}, MasterWith([](sim::MasterFaults& f) {
                         f.silentFrom = AnswerSelector{Step::Identification, 0, 1};
                     }));
    ASSERT_EQ(bench.run.ConnectRadio(), StepResult::Ok);
    bench.pressCancelAt(bench.line.now() + Ms(100));
    EXPECT_EQ(bench.run.IdentifyUnit(), StepResult::Failed);
    EXPECT_EQ(bench.timesSent(0x65), 1) << "no second send after Cancel";
}

TEST(ReadMasterVersion, ResultCodes) {
    struct Case {
        const char* what;
        void (*fault)(sim::MasterFaults&);
        StepResult expected;
    };
    const Case cases[] = {
        {"refused with NAK", [](sim::MasterFaults& f) { f.refuseVersion = true; },
         StepResult::Failed},
        {"wrong check byte",
         [](sim::MasterFaults& f) {
             f.badCheck = AnswerSelector{Step::MasterVersion, 0, 1};
         },
         StepResult::BadChecksum},
        {"no answer",
         [](sim::MasterFaults& f) {
             f.silentFrom = AnswerSelector{Step::MasterVersion, 0, 1};
         },
         StepResult::Failed},
        {"neither ACK nor NAK",
         [](sim::MasterFaults& f) {
             f.garbageInstead = AnswerSelector{Step::MasterVersion, 0, 1};
         },
         StepResult::Failed},
        {"answer cut short",
         [](sim::MasterFaults& f) {
             f.truncate = AnswerSelector{Step::MasterVersion, 0, 1};
             f.truncateTo = 11;
         },
         StepResult::Failed},
    };
    for (const Case& c : cases) {
        MasterUnit bench(kMasterCpu, {}, sim::RadioConfig{}, MasterWith(c.fault));
        EXPECT_EQ(bench.run.Handshake(), c.expected) << c.what;
        EXPECT_EQ(bench.timesSent(0xE1), 1) << c.what;
        EXPECT_TRUE(bench.host.versionLabels.empty()) << c.what;
    }
}

TEST(ReadUnitVersion, AnswerArrivingWithTheEchoIsDiscardedAndTheCommandResent) {
    sim::VirtualLineOptions options;
    options.grouping = sim::Grouping::EchoWithAnswer;
    SlaveUnit bench(kSlaveCpu, options);
    EXPECT_EQ(bench.run.Handshake(), StepResult::Failed);
    EXPECT_EQ(bench.timesSent(0x66), 3);
    EXPECT_EQ(bench.timesSent(ACK), 0);
}

TEST(ReadUnitVersion, ResultCodes) {
    struct Case {
        const char* what;
        void (*fault)(sim::SlaveFaults&);
        StepResult expected;
        int sends;
    };
    const Case cases[] = {
        {"wrong sum",
         [](sim::SlaveFaults& f) {
             f.badCheck = AnswerSelector{Step::UnitVersion, 0, 1};
         },
         StepResult::BadChecksum, 1},
        {"no answer: three sends",
         [](sim::SlaveFaults& f) {
             f.silentFrom = AnswerSelector{Step::UnitVersion, 0, 1};
         },
         StepResult::Failed, 3},
        {"slow first answer: resent, then read",
         [](sim::SlaveFaults& f) {
             f.slow = AnswerSelector{Step::UnitVersion, 0, 1};
             f.slowBy = Ms(600);
         },
         StepResult::Ok, 2},
    };
    for (const Case& c : cases) {
        sim::SlaveFaults faults;
        c.fault(faults);
        SlaveUnit bench(kSlaveCpu, {}, sim::RadioConfig{}, faults);
        EXPECT_EQ(bench.run.Handshake(), c.expected) << c.what;
        EXPECT_EQ(bench.timesSent(0x66), c.sends) << c.what;
    }
}

TEST(ReadUnitVersion, CancelIsSeenAfterTheWait) {
    sim::SlaveFaults faults;
    faults.silentFrom = AnswerSelector{Step::UnitVersion, 0, 1};
    SlaveUnit bench(kSlaveCpu, {}, sim::RadioConfig{}, faults);
    ASSERT_EQ(bench.run.ConnectRadio(), StepResult::Ok);
    ASSERT_EQ(bench.run.IdentifyUnit(), StepResult::Ok);
    bench.pressCancelAt(bench.line.now() + Ms(100));
    EXPECT_EQ(bench.run.ReadUnitVersion(), StepResult::Failed);
    EXPECT_EQ(bench.timesSent(0x66), 1);
}

}  // namespace
}  // namespace qrb
