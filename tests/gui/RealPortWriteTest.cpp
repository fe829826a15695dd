// The window program writes a Master CPU file into rq7300-sim on a real
// pseudo-terminal: WRITE, the production serial line, "Ok ?" answered with
// OK, and the simulator's memory equal to the file's image.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "GuiTestSupport.h"
#include "ui/fw.h"

namespace qrb {
namespace {

using test::BoxWatcher;
using test::ScopedCurrentFolder;
using test::SeenBox;

// The simulator as a child process, ended and reaped when the test goes.
class SimulatorProcess {
  public:
    explicit SimulatorProcess(const std::vector<std::string>& args) {
        pid_ = ::fork();
        if (pid_ == 0) {
            std::vector<std::string> all{QRB117_SIM_PATH};
            all.insert(all.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (auto& a : all) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            ::freopen("/dev/null", "w", stdout);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~SimulatorProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // Waits until the simulator ends by itself (after the end command).
    bool waitForExit(std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                exited_ = true;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

  private:
    pid_t pid_ = -1;
    bool exited_ = false;
};

std::string S1Record(std::uint16_t address, const std::vector<std::uint8_t>& data) {
    unsigned sum = 3 + static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF);
    char text[16];
    std::snprintf(text, sizeof text, "S1%02X%04X", 3 + static_cast<unsigned>(data.size()), address);
    std::string line = text;
    for (std::uint8_t byte : data) {
        std::snprintf(text, sizeof text, "%02X", byte);
        line += text;
        sum += byte;
    }
    std::snprintf(text, sizeof text, "%02X\r\n", ~sum & 0xFF);
    return line + text;
}

TEST(RealPortWrite, TheWindowWritesAMasterCpuFileIntoTheSimulator) {
    ScopedCurrentFolder folder;
    const std::string link = folder.file("radio");
    const std::string memoryOut = folder.file("memory.bin");
    SimulatorProcess simulator({"--unit", "master", "--version", "0102", "--link", link,
                                "--memory-out", memoryOut, "--idle-exit", "60"});
    for (int i = 0; i < 500 && ::access(link.c_str(), F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(::access(link.c_str(), F_OK), 0) << "the simulator did not start";
    ::setenv("QRB117_COMPORTS", ("COM4=" + link).c_str(), 1);

    // Data in the first block, in a block of the first phase and in the last.
    std::vector<std::uint8_t> image(256 * 1024, 0xFF);
    std::string text = "Master CPU test firmware\r\nS00600004844521B\r\n";
    for (const std::uint16_t address : {0x0000, 0x5000, 0xFF80}) {
        std::vector<std::uint8_t> data;
        for (unsigned k = 0; k < 32; ++k) {
            data.push_back(static_cast<std::uint8_t>(address / 7 + k * 3));
            image[address + k] = data.back();
        }
        text += S1Record(address, data);
    }
    folder.write("QRB117.ini", "4");
    folder.write("TN508001_M_V0101.SFL", text + "S9030000FC\r\n");

    TfrmMain window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(window.State().ComPortNumber, 4);
    ASSERT_TRUE(window.btnWRITE->isEnabled());

    const BoxWatcher watcher([](const SeenBox&) { return QMessageBox::Ok; });
    QTest::mouseClick(window.btnWRITE, Qt::LeftButton);

    ASSERT_EQ(watcher.boxes().size(), 1u);
    EXPECT_EQ(watcher.boxes()[0].text, QStringLiteral("Ok ?"));
    EXPECT_EQ(window.Label5->text(), QStringLiteral("0102"));
    EXPECT_TRUE(window.InstructionText().startsWith(QStringLiteral("CHECKSUM\r\n        ")));
    EXPECT_TRUE(window.State().StopRequested);

    ASSERT_TRUE(simulator.waitForExit(std::chrono::seconds(20)));
    std::ifstream in(memoryOut, std::ios::binary);
    const std::vector<std::uint8_t> memory((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    EXPECT_EQ(memory, image);
    ::unsetenv("QRB117_COMPORTS");
}

}  // namespace
}  // namespace qrb
