// rq7300-sim on a real pseudo-terminal: the ready byte, the identification
// exchange, the report after SIGTERM, line pacing, adapter packets, a
// vanishing port.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// One rq7300-sim process and the PC's end of its terminal.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args) {
        dir_ = std::filesystem::temp_directory_path() /
               ("rq7300-sim-test-" + std::to_string(::getpid()) + "-" + std::to_string(++count_));
        std::filesystem::create_directories(dir_);
        args.insert(args.begin(), RQ7300_SIM);
        args.push_back("--report");
        args.push_back(reportPath());
        args.push_back("--idle-exit");
        args.push_back("20");  // never outlives a broken test for long
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);

        int out[2];
        EXPECT_EQ(::pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        // The terminal's path is the first line.
        char c = 0;
        while (::read(out[0], &c, 1) == 1 && c != '\n') {
            path_ += c;
        }
        ::close(out[0]);
    }

    ~SimProcess() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(dir_);
    }

    void openTerminal() {
        fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd_, 0) << path_;
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }

    void write(const Bytes& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Reads until `count` bytes came, the terminal hung up, or the time ran out.
    Bytes read(std::size_t count, int timeoutMs = 3000) {
        Bytes bytes;
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.size() < count && Clock::now() < end) {
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0) {
                continue;
            }
            std::uint8_t buffer[512];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) {
                hungUp_ = true;
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + n);
            ++handOvers_;
        }
        return bytes;
    }

    int stop(int signal) {
        ::kill(pid_, signal);
        return wait();
    }
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string report() const {
        std::ifstream in(reportPath());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    const std::string& path() const { return path_; }
    bool hungUp() const { return hungUp_; }
    int handOvers() const { return handOvers_; }  // reads that returned bytes

  private:
    std::string reportPath() const { return (dir_ / "report.json").string(); }

    static inline int count_ = 0;
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string path_;
    bool exited_ = false;
    bool hungUp_ = false;
    int handOvers_ = 0;
};

void connect(SimProcess& sim) {
    sim.openTerminal();
    ASSERT_EQ(sim.read(1), Bytes{0x50});
    sim.write({0xA0});
    ASSERT_EQ(sim.read(1), Bytes{0xA0});
}

TEST(SimTool, IdentifiesItselfAndReportsAfterSigterm) {
    SimProcess sim({"--unit", "olu6", "--version", "0312"});
    ASSERT_EQ(sim.path().rfind("/dev/pts/", 0), 0u) << sim.path();
    connect(sim);
    sim.write({0x65, 0x01, 0x41, 0x59});
    EXPECT_EQ(sim.read(12),
              (Bytes{0x65, 0x01, 0x41, 0x59, 0xE5, 0x05, 'O', 'L', 'U', '-', '6', 0xC3}));
    sim.write({0x66});
    EXPECT_EQ(sim.read(6), (Bytes{0x66, 0x76, 0x02, 0x03, 0x12, 0x73}));

    EXPECT_EQ(sim.stop(SIGTERM), 0);
    const std::string report = sim.report();
    EXPECT_NE(report.find("\"unit\": \"olu6\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"connected\": true"), std::string::npos) << report;
    EXPECT_NE(report.find("\"identifications\": 1"), std::string::npos) << report;
    EXPECT_NE(report.find("\"end_command\": false"), std::string::npos) << report;
    EXPECT_NE(report.find("\"violations\": []"), std::string::npos) << report;
    EXPECT_NE(report.find("\"exit_reason\": \"signal\""), std::string::npos) << report;
}

Bytes masterFrame(std::uint16_t block) {
    Bytes frame{0xE0, 0x83, static_cast<std::uint8_t>(block >> 8),
                static_cast<std::uint8_t>(block)};
    frame.resize(132, 0x5A);
    unsigned sum = 0;
    for (auto b : frame) {
        sum += b;
    }
    frame.push_back(static_cast<std::uint8_t>(sum));
    return frame;
}

TEST(SimTool, LineRatePacesAFrameExchange) {
    SimProcess sim({"--line-rate"});
    connect(sim);
    const auto start = Clock::now();
    sim.write(masterFrame(160));
    const Bytes reply = sim.read(139);
    const auto took = Clock::now() - start;
    ASSERT_EQ(reply.size(), 139u);
    EXPECT_EQ(reply[133], 0x06);
    // 133 bytes out and 6 back at 286 us a byte, plus the answer delay.
    EXPECT_GE(took, std::chrono::microseconds(139 * 286 + 2'000));
}

TEST(SimTool, AdapterPacketsHandTheLineOverInGroups) {
    SimProcess sim({"--line-rate", "--adapter-packets", "5000"});
    connect(sim);
    const int before = sim.handOvers();
    const auto start = Clock::now();
    sim.write(masterFrame(160));
    const Bytes reply = sim.read(139);
    const auto took = Clock::now() - start;
    ASSERT_EQ(reply.size(), 139u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 133), masterFrame(160));
    EXPECT_EQ(reply[133], 0x06);
    EXPECT_GE(took, std::chrono::microseconds(139 * 286 + 2'000));
    // One read per 5 ms packet at most (a late reader finds several in one);
    // byte by byte it would be one per 286 us.
    const auto packets = std::chrono::duration_cast<std::chrono::milliseconds>(took).count() / 5;
    EXPECT_LE(sim.handOvers() - before, packets + 2);
}

TEST(SimTool, PortVanishesAfterTheChosenFrameAndEndsTheRun) {
    SimProcess sim({"--vanish-after-frame", "1"});
    connect(sim);
    for (std::uint16_t block : {160, 161}) {
        sim.write(masterFrame(block));
        const Bytes reply = sim.read(139);
        ASSERT_EQ(reply.size(), 139u);
        EXPECT_EQ(reply[133], 0x06);
    }
    sim.read(1, 3000);
    EXPECT_TRUE(sim.hungUp());
    EXPECT_EQ(sim.wait(), 0);
    const std::string report = sim.report();
    EXPECT_NE(report.find("\"frames\": [160, 161]"), std::string::npos) << report;
    EXPECT_NE(report.find("\"vanished\": true"), std::string::npos) << report;
}

TEST(SimTool, EndCommandEndsTheRunAfterItsEchoWasRead) {
    SimProcess sim({"--unit", "slave"});
    connect(sim);
    sim.write({0x38, 0x01, 0x39});
    EXPECT_EQ(sim.read(3), (Bytes{0x38, 0x01, 0x39}));
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_NE(sim.report().find("\"exit_reason\": \"end-command\""), std::string::npos);
}

}  // namespace
