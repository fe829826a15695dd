// A thousand rounds of open, traffic both ways, purge and close on one
// pseudo-terminal: no deadlock, and no thread or descriptor left behind.
#include <dirent.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <thread>

#include "PtyPair.h"
#include "serial/CommX.h"

namespace qrb {
namespace {

using namespace std::chrono_literals;

int CountEntries(const char* directory) {
    DIR* dir = ::opendir(directory);
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(dir);
    return count;
}

TEST(CommXStressTest, ThousandCyclesOfOpenTrafficPurgeAndClose) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.valid());
    CommXOptions options;
    options.devicePathFor = [&](int) { return pty.slavePath(); };
    // Shortened fixed waits (test only): a thousand rounds of 400 ms would take minutes.
    options.waits.afterOpen = 0ms;
    options.waits.closeAfterPurge = 0ms;
    options.waits.closeAfterRelease = 0ms;
    options.waits.threadEnd = 0ms;

    {
        // One round first, so that helper threads made on first use (by Qt,
        // or by a sanitizer's runtime) are there before counting.
        TCommX warmUp(nullptr, options);
        warmUp.Open();
        warmUp.SendByte(0);
        warmUp.Close();
        pty.read(1, 1s);
    }
    const int fdsBefore = CountEntries("/proc/self/fd");
    const int threadsBefore = CountEntries("/proc/self/task");
    {
        TCommX comm(nullptr, options);
        comm.setBitRate(38400);
        comm.setStopBit(TCommStopBits::csb2);
        comm.setFlowCtrl(TCommFlowCtrls::cfcNone);
        std::size_t received = 0;
        comm.OnReceive = [&](TCustomCommX*, int size) {
            std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
            received += static_cast<std::size_t>(std::max(comm.Receive(buffer.data(), size), 0));
        };

        const std::vector<std::uint8_t> fromRadio = {0x50, 0xFF, 0x00, 0x06};
        const std::vector<std::uint8_t> toRadio = {0xA0, 0x65, 0x01, 0x50, 0x4A};
        for (int cycle = 0; cycle < 1000; ++cycle) {
            comm.Open();
            received = 0;
            pty.write(fromRadio);
            for (const std::uint8_t byte : toRadio) {
                ASSERT_TRUE(comm.SendByte(byte));
            }
            ASSERT_EQ(pty.read(toRadio.size(), 2s), toRadio) << "cycle " << cycle;
            ASSERT_TRUE(test::PumpUntil([&] { return received == fromRadio.size(); }))
                << "cycle " << cycle;
            // Leave something in flight both ways for the purges and Close.
            pty.write(fromRadio);
            comm.Send(toRadio.data(), static_cast<int>(toRadio.size()));
            comm.PurgeTransmit();
            comm.PurgeReceive();
            ASSERT_EQ(comm.PendingBytes(), 0);
            comm.Close();
            // Drop what reached the radio after the purge.
            pty.read(64, 5ms);
        }
    }
    test::PumpFor(10ms);
    EXPECT_EQ(CountEntries("/proc/self/fd"), fdsBefore);
    EXPECT_EQ(CountEntries("/proc/self/task"), threadsBefore);
}

}  // namespace
}  // namespace qrb
