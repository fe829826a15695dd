#include "Fixture.h"

#include <signal.h>
#include <stdlib.h>

#include <QByteArray>
#include <QJsonDocument>
#include <fstream>
#include <random>
#include <thread>

namespace e2e {

namespace fs = std::filesystem;

void CliAgainstSim::SetUp() {
    std::string templ = (fs::temp_directory_path() / "qrb117-e2e-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
}

void CliAgainstSim::TearDown() {
    if (sim_) {
        sim_->signal(SIGKILL);
        sim_.reset();
    }
    if (!HasFailure()) {
        fs::remove_all(dir_);
    } else {
        std::printf("kept for inspection: %s\n", dir_.c_str());
    }
}

void CliAgainstSim::startSim(const std::vector<std::string>& args) {
    std::vector<std::string> all{"--link",       (dir_ / "radio").string(),
                                 "--report",     (dir_ / "report.json").string(),
                                 "--memory-out", (dir_ / "memory.bin").string(),
                                 "--idle-exit",  "60"};
    all.insert(all.end(), args.begin(), args.end());
    fs::remove(dir_ / "radio");
    sim_ = std::make_unique<Process>(QRB117_SIM_PATH, all, dir_, "sim");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(dir_ / "radio")) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the simulator did not start";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

QJsonObject CliAgainstSim::finishSim() {
    if (sim_->running()) {
        // The simulator ends by itself after the end command; give it a moment.
        const auto grace = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (sim_->running() && std::chrono::steady_clock::now() < grace) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        sim_->signal(SIGTERM);
    }
    const ProcessResult r = sim_->wait(std::chrono::seconds(10));
    EXPECT_FALSE(r.timedOut);
    const std::string json = ReadFile(dir_ / "report.json");
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

std::vector<std::uint8_t> CliAgainstSim::simMemory() const {
    const std::string bytes = ReadFile(dir_ / "memory.bin");
    return {bytes.begin(), bytes.end()};
}

ProcessResult CliAgainstSim::cli(const std::vector<std::string>& args, std::chrono::seconds limit) {
    return e2e::Run(QRB117_CLI_PATH, args, dir_, "cli", limit);
}

ProcessResult CliAgainstSim::write(const std::string& file, const std::vector<std::string>& extra,
                                   std::chrono::seconds limit) {
    std::vector<std::string> args{"write", "--port", (dir_ / "radio").string(), "--yes"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(file);
    return cli(args, limit);
}

std::vector<std::uint8_t> CliAgainstSim::Binary(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

std::string CliAgainstSim::MakeFile(const std::string& name,
                                    const std::vector<std::uint8_t>& binary,
                                    const std::string& format,
                                    const std::vector<std::string>& header) {
    const fs::path bin = dir_ / (name + ".bin");
    const fs::path records = dir_ / (name + "." + format);
    {
        std::ofstream out(bin, std::ios::binary);
        out.write(reinterpret_cast<const char*>(binary.data()),
                  static_cast<std::streamsize>(binary.size()));
    }
    const std::string command =
        "objcopy -I binary -O " + format + " " + bin.string() + " " + records.string();
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const fs::path file = dir_ / name;
    std::ofstream out(file, std::ios::binary);
    for (const auto& line : header) {
        out << line << "\r\n";
    }
    std::string text = ReadFile(records);
    // Slave files begin their records with an extended linear address record,
    // which objcopy leaves out for images below 64 KiB.
    if (format == "ihex" && text.rfind(":02000004", 0) != 0) {
        text = ":020000040000FA\n" + text;
    }
    out << text;
    return file.string();
}

std::string Tail(const std::string& text, std::size_t count) {
    return text.size() <= count ? text : text.substr(text.size() - count);
}

}  // namespace e2e
