// Finding the radio by listening, against simulators on pseudo-terminals: a
// radio among a silent and a chattering port is found without a byte sent
// to the others, --port auto writes exactly as a named port does, no radio
// ends with status 1 and the ports named, and a station writes a fleet of
// radios with one log line each.
#include <signal.h>
#include <stdlib.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "BlockOrder.h"
#include "Fixture.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kHeader = {"RQ-7300 MASTER CPU FIRMWARE"};

class ListeningAgainstSims : public CliAgainstSim {
  protected:
    void TearDown() override {
        ::unsetenv("QRB117_COMPORTS");
        for (auto& [name, sim] : ports_) {
            sim->signal(SIGKILL);
        }
        ports_.clear();
        CliAgainstSim::TearDown();
    }

    // A simulator linked at dir_/name, its report at dir_/name.json.
    void startPort(const std::string& name, std::vector<std::string> args) {
        const fs::path link = dir_ / name;
        args.insert(args.end(), {"--link", link.string(), "--report",
                                 (dir_ / (name + ".json")).string(), "--idle-exit", "120"});
        ports_[name] = std::make_unique<Process>(QRB117_SIM_PATH, args, dir_, name);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(link)) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << name << " did not start";
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    QJsonObject stopPort(const std::string& name) {
        ports_[name]->signal(SIGTERM);
        EXPECT_FALSE(ports_[name]->wait(std::chrono::seconds(10)).timedOut);
        ports_.erase(name);
        const std::string json = ReadFile(dir_ / (name + ".json"));
        return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    }

    // COM1, COM2, ... in this order; the PC's own ports are left out.
    void nameComPorts(const std::vector<std::string>& names) {
        std::string entries;
        for (std::size_t i = 0; i < names.size(); ++i) {
            entries += "COM" + std::to_string(i + 1) + "=" + (dir_ / names[i]).string() + ";";
        }
        // A real port of this PC (COM1 is /dev/ttyS0) would be listened to
        // too; every number up to 96 is taken by a path that does not exist.
        for (int n = static_cast<int>(names.size()) + 1; n <= 96; ++n) {
            entries += "COM" + std::to_string(n) + "=" + (dir_ / "none").string() + ";";
        }
        ::setenv("QRB117_COMPORTS", entries.c_str(), 1);
    }

    // The chattering and the silent port saw no byte from the PC.
    void expectNothingReceived(const std::vector<std::string>& names) {
        for (const auto& name : names) {
            const QJsonObject report = stopPort(name);
            EXPECT_EQ(report["unit"].toString(), "none") << name;
            EXPECT_EQ(report["bytes_received"].toInt(-1), 0) << name;
        }
    }

    std::map<std::string, std::unique_ptr<Process>> ports_;
};

// The bytes the PC sent, in order, from a --trace file.
std::string SentBytes(const fs::path& trace) {
    std::istringstream in(ReadFile(trace));
    std::string sent;
    for (std::string line; std::getline(in, line);) {
        const auto tx = line.find(" TX ");
        if (tx != std::string::npos) {
            sent += line.substr(tx + 4) + " ";
        }
    }
    return sent;
}

std::vector<QJsonObject> JsonLines(const fs::path& file) {
    std::istringstream in(ReadFile(file));
    std::vector<QJsonObject> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    }
    return lines;
}

TEST_F(ListeningAgainstSims, DetectFindsTheRadioAndSendsNothingToTheOtherPorts) {
    startPort("silent", {"--unit", "none"});
    startPort("chatter", {"--unit", "none", "--noise", "15"});
    startPort("radio", {"--unit", "master"});
    nameComPorts({"silent", "chatter", "radio"});

    const ProcessResult r = cli({"detect", "--seconds", "2"}, std::chrono::seconds(30));
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(r.out,
              "COM1: silent\n"
              "COM2: other bytes, no ready byte\n"
              "COM3: radio waiting for a PC\n");

    const QJsonObject radio = stopPort("radio");
    EXPECT_FALSE(radio["connected"].toBool());
    EXPECT_EQ(radio["identifications"].toInt(-1), 0);
    expectNothingReceived({"silent", "chatter"});
}

TEST_F(ListeningAgainstSims, AutoPortWritesByteForByteAsTheNamedPort) {
    const auto binary = Binary(256 * 1024, 21);
    const std::string file = MakeFile("TN508777_M_V0201.SFL", binary, "srec", kHeader);

    // The same radio on a named port, for the bytes the PC sends there.
    startSim({"--unit", "master", "--version", "0107"});
    const ProcessResult named = write(file, {"--trace", (dir_ / "named.trace").string()});
    ASSERT_EQ(named.exitStatus, 0) << named.out << named.err;
    finishSim();

    startPort("silent", {"--unit", "none"});
    startPort("chatter", {"--unit", "none", "--noise", "15"});
    startSim({"--unit", "master", "--version", "0107"});
    nameComPorts({"silent", "chatter", "radio"});
    const ProcessResult r =
        cli({"write", "--port", "auto", "--yes", "--trace", (dir_ / "auto.trace").string(), file});
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("on COM3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Master CPU version: 0107"), std::string::npos) << r.out;

    const QJsonObject report = finishSim();
    EXPECT_TRUE(report["end_command"].toBool());
    EXPECT_TRUE(report["violations"].toArray().isEmpty());
    EXPECT_EQ(CompareSentBlocks(simMemory(), binary, MasterBlocksSent()), "");
    const std::string sent = SentBytes(dir_ / "auto.trace");
    EXPECT_EQ(sent.rfind("A0 65 01 50 4A E1 01 E2 ", 0), 0u) << sent.substr(0, 80);
    EXPECT_EQ(sent, SentBytes(dir_ / "named.trace"));
    expectNothingReceived({"silent", "chatter"});
}

TEST_F(ListeningAgainstSims, NoRadioEndsWithStatusOneAndNamesThePorts) {
    startPort("silent", {"--unit", "none"});
    startPort("chatter", {"--unit", "none", "--noise", "15"});
    startPort("gone", {"--unit", "none"});
    nameComPorts({"silent", "chatter", "gone"});

    Process detect(QRB117_CLI_PATH, {"detect", "--seconds", "3"}, dir_, "detect");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    stopPort("gone");  // its terminal goes away while listened to
    const ProcessResult found = detect.wait(std::chrono::seconds(30));
    EXPECT_EQ(found.exitStatus, 1) << found.out << found.err;
    EXPECT_EQ(found.out,
              "COM1: silent\n"
              "COM2: other bytes, no ready byte\n"
              "COM3: vanished while listened to\n");

    const std::vector<std::uint8_t> binary(256 * 1024, 0x5A);
    const std::string file = MakeFile("TN508777_M_V0201.SFL", binary, "srec", kHeader);
    const ProcessResult r = cli({"write", "--port", "auto", "--yes", "--watchdog", "2", file},
                                std::chrono::seconds(30));
    EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
    EXPECT_EQ(r.out.rfind(kFailureTextStart, 0), 0u) << r.out;
    EXPECT_NE(r.out.find("No radio announced itself on COM1, COM2.\n"), std::string::npos) << r.out;
    expectNothingReceived({"silent", "chatter"});
}

TEST_F(ListeningAgainstSims, StationWritesEachRadioOfAFleetWithOneLogLineEach) {
    const auto binary = Binary(256 * 1024, 33);
    const std::string file = MakeFile("TN508777_M_V0201.SFL", binary, "srec", kHeader);
    const fs::path log = dir_ / "station.jsonl";
    {
        std::ofstream earlier(log, std::ios::binary);
        earlier << R"({"earlier": "a line cut short by a crash"})";  // no newline
    }
    // Radio 2 answers with a wrong identification and is given up on.
    startSim({"--unit", "master", "--version", "0301", "--radios", "3", "--faulty-radio", "2",
              "--bad-id", "--give-up-after", "2"});
    Process station(QRB117_CLI_PATH,
                    {"write", "--port", (dir_ / "radio").string(), "--repeat", "--log",
                     log.string(), "--yes", "--attempts", "1", file},
                    dir_, "station");

    // The simulator ends after the third radio's end command.
    EXPECT_FALSE(sim_->wait(std::chrono::seconds(180)).timedOut);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (JsonLines(log).size() < 4 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    station.signal(SIGINT);
    const ProcessResult r = station.wait(std::chrono::seconds(30));
    EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("Station stopped: 2 completed, 1 failed"), std::string::npos) << r.err;

    const std::vector<QJsonObject> lines = JsonLines(log);
    ASSERT_EQ(lines.size(), 4u) << ReadFile(log);
    EXPECT_EQ(lines[0]["earlier"].toString(), "a line cut short by a crash");
    const char* const versions[] = {"0301", nullptr, "0303"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject& line = lines[static_cast<std::size_t>(i) + 1];
        EXPECT_EQ(line["port"].toString().toStdString(), (dir_ / "radio").string());
        EXPECT_EQ(line["target"].toString(), "Master CPU");
        EXPECT_EQ(line["file"].toString().toStdString(), file);
        EXPECT_TRUE(line["checksum"].toString().startsWith("CHECKSUM"));
        EXPECT_EQ(line["attempts"].toInt(), 1);
        EXPECT_GT(line["duration_s"].toDouble(), 0.0);
        EXPECT_LE(line["start"].toString(), line["end"].toString());
        if (versions[i] != nullptr) {
            EXPECT_EQ(line["result"].toString(), "completed");
            EXPECT_EQ(line["unit_version"].toString(), versions[i]);
            const std::string memory = ReadFile(dir_ / ("memory.bin." + std::to_string(i + 1)));
            EXPECT_EQ(CompareSentBlocks({memory.begin(), memory.end()}, binary, MasterBlocksSent()),
                      "");
        } else {
            EXPECT_EQ(line["result"].toString().toStdString(), "failed: " + kFailureTextStart +
                                                                   "  Please do the following "
                                                                   "procedure again.");
            EXPECT_TRUE(line["unit_version"].isNull());
            const std::string report = ReadFile(dir_ / "report.json.2");
            EXPECT_NE(report.find("\"end_command\": false"), std::string::npos) << report;
        }
    }
}

TEST_F(ListeningAgainstSims, AStationWhoseLogCannotBeWrittenStopsBeforeTheNextRadio) {
    const auto binary = Binary(256 * 1024, 34);
    const std::string file = MakeFile("TN508777_M_V0201.SFL", binary, "srec", kHeader);
    const fs::path logDir = dir_ / "logs";
    fs::create_directory(logDir);
    const fs::path log = logDir / "station.jsonl";
    startSim({"--unit", "master", "--radios", "2"});
    Process station(QRB117_CLI_PATH,
                    {"write", "--port", (dir_ / "radio").string(), "--repeat", "--log",
                     log.string(), "--yes", file},
                    dir_, "station");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (JsonLines(log).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(JsonLines(log).size(), 1u);
    fs::remove_all(logDir);

    const ProcessResult r = station.wait(std::chrono::seconds(30));
    EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("cannot write the log " + log.string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the station stops"), std::string::npos) << r.err;
    finishSim();
    const std::string second = ReadFile(dir_ / "report.json.2");
    EXPECT_NE(second.find("\"connected\": false"), std::string::npos) << second;
}

}  // namespace
}  // namespace e2e
