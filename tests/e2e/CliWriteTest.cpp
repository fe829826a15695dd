// qrb117-cli against rq7300-sim on pseudo-terminals: the Master CPU and Slave
// CPU writes land byte for byte, failures end with status 1 and the failure
// text, bad usage and bad files with status 2.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QJsonArray>
#include <atomic>
#include <fstream>
#include <thread>

#include "BlockOrder.h"
#include "Fixture.h"
#include "firmware/SlaveLineSource.h"

namespace e2e {
namespace {

const std::vector<std::string> kMasterHeader = {"RQ-7300 MASTER CPU FIRMWARE", "TEST BUILD"};

TEST_F(CliAgainstSim, MasterPlainAndEncodedFilesLandByteForByte) {
    const auto binary = Binary(256 * 1024, 7);
    const std::string plain = MakeFile("TN508777_M_V0201.SFL", binary, "srec", kMasterHeader);
    const std::string encoded = (dir_ / "TN508778_M_V0201.SFL").string();
    ASSERT_EQ(cli({"encode", plain, encoded}).exitStatus, 0);

    for (const std::string& file : {plain, encoded}) {
        SCOPED_TRACE(file);
        startSim({"--unit", "master", "--version", "0107", "--answer-delay", "100"});
        const ProcessResult r = write(file);
        ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("Master CPU version: 0107"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("CHECKSUM\n        "), std::string::npos) << r.out;
        // The completion text is the last thing on standard output.
        EXPECT_EQ(Tail(r.out, 36), "3. Remove a LC-508B from the radio.\n");

        const QJsonObject report = finishSim();
        EXPECT_TRUE(report["end_command"].toBool());
        EXPECT_TRUE(report["violations"].toArray().isEmpty());
        const QJsonArray frames = report["frames"].toArray();
        const auto expected = MasterBlocksSent();
        ASSERT_EQ(frames.size(), static_cast<qsizetype>(expected.size()));
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(frames[static_cast<qsizetype>(i)].toInt(), expected[i]) << "frame " << i;
        }
        EXPECT_EQ(CompareSentBlocks(simMemory(), binary, expected), "");
    }
}

TEST_F(CliAgainstSim, SlaveLinesArriveAsTheFileHoldsThem) {
    const auto binary = Binary(16 * 1024, 11);
    const std::string file =
        MakeFile("TN508777_S_V0201.SFL", binary, "ihex", {"RQ-7300 SLAVE CPU FIRMWARE"});
    startSim({"--unit", "slave", "--version", "0203"});
    const ProcessResult r = write(file);
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Slave CPU version: 0203"), std::string::npos);
    EXPECT_EQ(r.out.find("CHECKSUM"), std::string::npos) << "no checksum for this target";

    const QJsonObject report = finishSim();
    EXPECT_TRUE(report["end_frame"].toBool());
    EXPECT_TRUE(report["end_command"].toBool());
    std::vector<std::string> expected;
    std::ifstream in(dir_ / "TN508777_S_V0201.SFL");
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find(':') != std::string::npos)
            expected.push_back(line);
    }
    const QJsonArray lines = report["lines"].toArray();
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(lines[static_cast<qsizetype>(i)].toString().toStdString(), expected[i]);
    }
}

TEST_F(CliAgainstSim, EncodedSlaveSampleIsSentDecoded) {
    const std::string file = std::string(QRB117_SAMPLES_DIR) + "/TN508001_S_V0102.SFL";
    startSim({"--unit", "slave"});
    const ProcessResult r = write(file);
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    const QJsonObject report = finishSim();
    int keyIndex = 0;
    const auto expected = qrb::ReadSlaveLines(file, keyIndex);
    const QJsonArray lines = report["lines"].toArray();
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(lines[static_cast<qsizetype>(i)].toString().toStdString(), expected[i]);
    }
}

// Each fault ends the run with status 1 and the failure text; the next run,
// after the radio was switched off and on again, completes.
TEST_F(CliAgainstSim, FaultsFailTheRunAndTheNextRunCompletes) {
    const std::string file = std::string(QRB117_SAMPLES_DIR) + "/TN508001_M_V0101.SFL";
    const std::vector<std::vector<std::string>> faults = {
        {"--refuse-frame", "5:03"},
        {"--silent-from-frame", "3"},
        {"--vanish-after-frame", "20"},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault[0]);
        std::vector<std::string> args{"--unit", "master", "--answer-delay", "100"};
        args.insert(args.end(), fault.begin(), fault.end());
        startSim(args);
        const ProcessResult failed = write(file, {}, std::chrono::seconds(60));
        EXPECT_EQ(failed.exitStatus, 1) << failed.out << failed.err;
        EXPECT_NE(failed.out.find(kFailureTextStart), std::string::npos) << failed.out;
        EXPECT_NE(failed.err.find("Problem on COM port"), std::string::npos) << failed.err;
        EXPECT_EQ(failed.out.find(kCompletionTextStart), std::string::npos);
        finishSim();

        startSim({"--unit", "master", "--answer-delay", "100"});
        const ProcessResult next = write(file);
        EXPECT_EQ(next.exitStatus, 0) << next.out << next.err;
        EXPECT_TRUE(finishSim()["end_command"].toBool());
    }
}

TEST_F(CliAgainstSim, AttemptsAreMadeUntilTheGivenNumber) {
    // A radio that never offers its ready byte: every attempt ends after 5 s
    // of silence, and the run ends after the second.
    startSim({"--unit", "master", "--silent-from", "ready"});
    const ProcessResult r = write(std::string(QRB117_SAMPLES_DIR) + "/TN508001_M_V0101.SFL",
                                  {"--attempts", "2"}, std::chrono::seconds(60));
    EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("Attempt 2 of 2"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Attempt 3"), std::string::npos) << r.err;
}

TEST_F(CliAgainstSim, BadUsageAndBadFilesEndWithStatusTwo) {
    const std::string sample = std::string(QRB117_SAMPLES_DIR) + "/TN508001_M_V0101.SFL";
    {
        std::ofstream bad(dir_ / "TN508999_M_V0001.SFL", std::ios::binary);
        bad << "HEADER\r\nS00600004844521B\r\nS1130000ZZ0102030405060708090A0B0C0D0E0F10\r\n";
        std::ofstream none(dir_ / "TN508998_M_V0001.SFL", std::ios::binary);
        none << "ONLY A HEADER\r\nAND NOTHING ELSE\r\n";
    }
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"frobnicate"}, "unknown command"},
        {{"write", sample}, "--port"},
        {{"write", "--port", "COM1"}, "FILE"},
        {{"write", "--port", "LPT1", sample}, "--port must be"},
        {{"write", "--port", "COM1", "--target", "dsp", sample}, "--target"},
        {{"write", "--port", "COM1", "--attempts", "0", sample}, "--attempts"},
        {{"write", "--port", "COM1", (dir_ / "missing.SFL").string()}, "missing.SFL"},
        {{"write", "--port", "COM1", (dir_ / "TN508999_M_V0001.SFL").string()},
         "'ZZ' is not a valid integer value"},
        {{"info", (dir_ / "TN508998_M_V0001.SFL").string()}, "no record start"},
        {{"info", (dir_ / "notes.txt").string()}, "notes.txt"},
        {{"encode", sample}, "IN and OUT"},
    };
    for (const auto& c : cases) {
        const ProcessResult r = cli(c.args, std::chrono::seconds(30));
        EXPECT_EQ(r.exitStatus, 2) << c.args[0] << " " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

// Each command has its own help, also beside options it does not know; an
// option's value may follow an equals sign or start with a dash.
TEST_F(CliAgainstSim, EachCommandHasHelpAndOptionsAreCheckedBeforeAnyPortIsOpened) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> helps = {
        {{"--help"}, "Usage: qrb117-cli COMMAND"},
        {{"help"}, "Usage: qrb117-cli COMMAND"},
        {{"ports", "-h"}, "Usage: qrb117-cli ports"},
        {{"info", "--help"}, "Usage: qrb117-cli info FILE"},
        {{"write", "--bogus", "--help"}, "--watchdog S"},
        {{"encode", "--help", "a", "b", "c"}, "Usage: qrb117-cli encode IN OUT"},
    };
    for (const auto& [args, text] : helps) {
        const ProcessResult r = cli(args, std::chrono::seconds(30));
        EXPECT_EQ(r.exitStatus, 0) << args[0] << " " << r.err;
        EXPECT_NE(r.out.find(text), std::string::npos) << r.out;
    }
    const std::string sample = std::string(QRB117_SAMPLES_DIR) + "/TN508001_M_V0101.SFL";
    const std::vector<std::pair<std::vector<std::string>, std::string>> errors = {
        {{}, "Usage: qrb117-cli COMMAND"},
        {{"write", "--port=COM1", "--bogus", sample}, "qrb117-cli: unknown option --bogus"},
        {{"write", "--port", "COM1", "--watchdog", "-5", sample}, "--watchdog needs a number"},
        {{"write", "--port=COM1", "--target=dsp", sample}, "not 'dsp'"},
        {{"write", "--port", "COM1", sample, sample}, "write takes one FILE"},
        {{"write", "--port", "COM1", "--attempts"}, "--attempts"},
        {{"ports", "COM1"}, "ports takes no arguments"},
        {{"info", sample, sample}, "info takes one FILE"},
    };
    for (const auto& [args, text] : errors) {
        const ProcessResult r = cli(args, std::chrono::seconds(30));
        EXPECT_EQ(r.exitStatus, 2) << r.err;
        EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    }
}

TEST_F(CliAgainstSim, InfoShowsTargetHeaderAndChecksum) {
    const ProcessResult r = cli({"info", std::string(QRB117_SAMPLES_DIR) + "/TQX37_V0106.SFL"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Target:   OLU-6"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("OLU-6 OPTION UNIT FIRMWARE"), std::string::npos);
    EXPECT_NE(r.out.find("Ends in ALL: yes"), std::string::npos);
    EXPECT_NE(r.out.find("CHECKSUM\n        "), std::string::npos);
}

TEST_F(CliAgainstSim, TraceHoldsBothDirectionsInHex) {
    startSim({"--unit", "master", "--answer-delay", "100"});
    const std::string trace = (dir_ / "trace.log").string();
    const ProcessResult r =
        write(std::string(QRB117_SAMPLES_DIR) + "/TN508001_M_V0101.SFL", {"--trace", trace});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::string text = ReadFile(trace);
    EXPECT_NE(text.find(" RX 50"), std::string::npos);
    EXPECT_NE(text.find(" TX A0"), std::string::npos);
    // The end command, 2 ms after each byte, is the last thing sent.
    const auto end = text.rfind(" TX 38");
    ASSERT_NE(end, std::string::npos);
    EXPECT_NE(text.find(" TX 01", end), std::string::npos);
    EXPECT_NE(text.find(" TX 39", end), std::string::npos);
    EXPECT_NE(text.find(" TX E0 83 00 A0"), std::string::npos) << "the first frame, grouped";
}

// A line that keeps sending bytes other than the ready byte holds the
// connection step; the watchdog cancels the run.
TEST_F(CliAgainstSim, WatchdogEndsARunOnANoisyLine) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    std::atomic<bool> stop{false};
    std::thread noise([&] {
        while (!stop) {
            const char byte = 0x7E;
            [[maybe_unused]] auto n = ::write(master, &byte, 1);
            char sink[256];
            [[maybe_unused]] auto m = ::read(master, sink, sizeof sink);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult r = cli({"write", "--port", slave, "--yes", "--watchdog", "3",
                                 std::string(QRB117_SAMPLES_DIR) + "/TN508001_M_V0101.SFL"},
                                std::chrono::seconds(60));
    const auto took = std::chrono::steady_clock::now() - started;
    stop = true;
    noise.join();
    ::close(master);
    EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("no exchange with the radio for 3 s"), std::string::npos) << r.err;
    EXPECT_LT(took, std::chrono::seconds(20));
}

TEST_F(CliAgainstSim, CtrlCActsAsCancel) {
    startSim({"--unit", "master", "--line-rate"});
    Process writer(QRB117_CLI_PATH,
                   {"write", "--port", (dir_ / "radio").string(), "--yes",
                    std::string(QRB117_SAMPLES_DIR) + "/TN508001_M_V0101.SFL"},
                   dir_, "cli");
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ASSERT_TRUE(writer.running());
    writer.signal(SIGINT);
    const ProcessResult r = writer.wait(std::chrono::seconds(20));
    EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
    EXPECT_EQ(r.out.find(kCompletionTextStart), std::string::npos);
    EXPECT_FALSE(finishSim()["end_command"].toBool());
}

}  // namespace
}  // namespace e2e
