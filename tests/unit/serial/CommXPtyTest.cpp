// The serial component on real pseudo-terminals: opening and closing, the
// exclusive open, bytes both ways (including bytes that the terminal layer
// marks), purges, and a peer that goes away.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <numeric>
#include <thread>

#include "PtyPair.h"
#include "serial/CommX.h"

namespace qrb {
namespace {

using namespace std::chrono_literals;
using test::PtyPair;
using test::PumpFor;
using test::PumpUntil;

// Port n is the n-th pseudo-terminal of the test (1-based).
CommXOptions PtyOptions(std::vector<const PtyPair*> ptys) {
    CommXOptions options;
    options.devicePathFor = [ptys](int portNo) {
        return portNo >= 1 && portNo <= static_cast<int>(ptys.size())
                   ? ptys[static_cast<std::size_t>(portNo - 1)]->slavePath()
                   : std::string("/dev/qrb117-no-such-port");
    };
    options.waits.afterOpen = 1ms;
    options.waits.closeAfterPurge = 1ms;
    options.waits.closeAfterRelease = 1ms;
    options.waits.threadEnd = 1ms;
    return options;
}

class CommXPtyTest : public ::testing::Test {
  protected:
    PtyPair pty;
    TCommX comm{nullptr, PtyOptions({&pty})};
    std::vector<int> receiveSizes;
    std::vector<std::uint8_t> received;
    std::vector<int> errors;

    void SetUp() override {
        ASSERT_TRUE(pty.valid());
        comm.setBitRate(38400);
        comm.setStopBit(TCommStopBits::csb2);
        comm.setFlowCtrl(TCommFlowCtrls::cfcNone);
        comm.OnReceive = [this](TCustomCommX*, int size) {
            receiveSizes.push_back(size);
            std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
            const int got = comm.Receive(buffer.data(), size);
            EXPECT_EQ(got, size);
            received.insert(received.end(), buffer.begin(), buffer.begin() + std::max(got, 0));
        };
        comm.OnError = [this](TCustomCommX*, int state) { errors.push_back(state); };
    }
};

TEST_F(CommXPtyTest, OpensClosesAndReopens) {
    for (int round = 0; round < 3; ++round) {
        comm.Open();
        EXPECT_TRUE(comm.IsOpen());
        EXPECT_NE(comm.Handle(), 0xFFFFFFFFu);
        EXPECT_TRUE(comm.SendByte(static_cast<std::uint8_t>(0x30 + round)));
        EXPECT_EQ(pty.read(1, 2s),
                  std::vector<std::uint8_t>{static_cast<std::uint8_t>(0x30 + round)});
        comm.Close();
        EXPECT_FALSE(comm.IsOpen());
        EXPECT_EQ(comm.Handle(), 0xFFFFFFFFu);
    }
}

TEST_F(CommXPtyTest, AMissingPortRaisesPortOpenError) {
    comm.setPortNo(2);
    try {
        comm.Open();
        FAIL() << "opened a missing port";
    } catch (const ECommError& error) {
        EXPECT_STREQ(error.what(), "Port Open Error");
    }
    EXPECT_EQ(comm.Handle(), 0xFFFFFFFFu);
    EXPECT_EQ(comm.LastOpenError(), std::errc::no_such_file_or_directory);
    comm.Close();  // what the callers do after a failed Open
}

TEST_F(CommXPtyTest, ASecondOpenIsRefusedAndThePortKeepsWorking) {
    comm.Open();
    try {
        comm.Open();
        FAIL() << "opened twice";
    } catch (const ECommError& error) {
        EXPECT_STREQ(error.what(), "ポートは、すでにオープンされています");
    }
    EXPECT_TRUE(comm.SendByte(0x5A));
    EXPECT_EQ(pty.read(1, 2s), std::vector<std::uint8_t>{0x5A});

    // Another component on the same device: no sharing.
    TCommX other(nullptr, PtyOptions({&pty}));
    EXPECT_THROW(other.Open(), ECommError);
    EXPECT_EQ(other.LastOpenError(), std::errc::device_or_resource_busy);
    EXPECT_TRUE(comm.SendByte(0x5B));
    EXPECT_EQ(pty.read(1, 2s), std::vector<std::uint8_t>{0x5B});

    comm.Close();
    other.Open();  // free again
    EXPECT_TRUE(other.IsOpen());
}

TEST_F(CommXPtyTest, ThousandsOfSingleByteSendsKeepTheirOrder) {
    comm.Open();
    std::vector<std::uint8_t> expected(6000);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expected[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    std::vector<std::uint8_t> got;
    std::thread reader([&] { got = pty.read(expected.size(), 10s); });
    for (const std::uint8_t byte : expected) {
        ASSERT_TRUE(comm.SendByte(byte));
    }
    reader.join();
    EXPECT_EQ(got, expected);
}

TEST_F(CommXPtyTest, ReceivedBytesIncludingMarkedValuesArriveUnchanged) {
    comm.Open();
    // FF is doubled by the terminal layer, FF 00 x looks like a marked error.
    std::vector<std::uint8_t> sent = {0x41, 0xFF, 0x00, 0x42, 0xFF, 0xFF, 0x00, 0x00, 0x0D, 0x0A};
    for (int i = 0; i < 256; ++i) {
        sent.push_back(static_cast<std::uint8_t>(i));
    }
    pty.write(sent);
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= sent.size(); }));
    EXPECT_EQ(received, sent);
    EXPECT_EQ(std::accumulate(receiveSizes.begin(), receiveSizes.end(), 0),
              static_cast<int>(sent.size()));
    EXPECT_TRUE(errors.empty());
}

TEST_F(CommXPtyTest, ReceiveWaitsForTheRestUpToTheTimeOut) {
    comm.OnReceive = nullptr;
    comm.setTimeOutReceive(2000);
    comm.Open();
    pty.write({1, 2});
    std::thread late([&] {
        std::this_thread::sleep_for(30ms);
        pty.write({3, 4});
    });
    std::array<std::uint8_t, 4> buffer{};
    EXPECT_EQ(comm.Receive(buffer.data(), 4), 4);
    late.join();
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));

    comm.setTimeOutReceive(40);
    pty.write({5});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(comm.Receive(buffer.data(), 4), 1);  // the time-out ends the wait
    EXPECT_GE(std::chrono::steady_clock::now() - start, 35ms);
    EXPECT_EQ(buffer[0], 5);
}

TEST_F(CommXPtyTest, NoOnReceiveWhenTheQueueIsAlreadyEmpty) {
    comm.Open();
    pty.write({1, 2, 3});
    std::this_thread::sleep_for(30ms);  // the receive thread has seen them
    std::array<std::uint8_t, 3> buffer{};
    EXPECT_EQ(comm.Receive(buffer.data(), 3), 3);  // read before the notice is handled
    PumpFor(30ms);
    EXPECT_TRUE(receiveSizes.empty());
}

TEST_F(CommXPtyTest, PurgeReceiveEmptiesTheInputQueue) {
    comm.OnReceive = nullptr;
    comm.Open();
    pty.write({1, 2, 3, 4, 5});
    ASSERT_TRUE(PumpUntil([&] { return comm.InQueueCount() == 5; }));
    comm.PurgeReceive();
    EXPECT_EQ(comm.InQueueCount(), 0);
    comm.PurgeTransmit();
    EXPECT_EQ(comm.PendingBytes(), 0);
    EXPECT_EQ(comm.PendingBlocks(), 0);
}

TEST_F(CommXPtyTest, PortNoWhileOpenMovesToTheNewPort) {
    PtyPair second;
    TCommX moving(nullptr, PtyOptions({&pty, &second}));
    moving.Open();
    moving.setPortNo(2);
    EXPECT_TRUE(moving.IsOpen());
    EXPECT_TRUE(moving.SendByte(0x77));
    EXPECT_EQ(second.read(1, 2s), std::vector<std::uint8_t>{0x77});
    comm.Open();  // the first port was released
    EXPECT_TRUE(comm.IsOpen());
}

TEST_F(CommXPtyTest, AVanishedPeerIsReportedOnceWithoutSpinning) {
    comm.Open();
    pty.write({0x11});
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 1; }));
    pty.closeMaster();
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));

    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    EXPECT_TRUE(comm.SendByte(0x22));  // the port counts as open; the byte is lost
    std::array<std::uint8_t, 1> buffer{};
    EXPECT_EQ(comm.Receive(buffer.data(), 1), -1);
    PumpFor(300ms);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const auto cpuUs = [](const rusage& usage) {
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L + usage.ru_utime.tv_usec +
               usage.ru_stime.tv_usec;
    };
    // The pump itself costs a little; a spinning worker would cost ~300 ms.
    EXPECT_LT(cpuUs(after) - cpuUs(before), 150000L);
    EXPECT_EQ(errors, std::vector<int>{8});
    EXPECT_EQ(comm.PendingBlocks(), 0);

    comm.Close();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_THROW(comm.Open(), ECommError);  // the device is gone for good

    PtyPair fresh;
    TCommX again(nullptr, PtyOptions({&fresh}));
    again.Open();
    EXPECT_TRUE(again.SendByte(0x33));
    EXPECT_EQ(fresh.read(1, 2s), std::vector<std::uint8_t>{0x33});
}

TEST_F(CommXPtyTest, ComPortsFromTheEnvironmentReachTheDefaultComponent) {
    const std::string value = "COM77=" + pty.slavePath();
    ::setenv("QRB117_COMPORTS", value.c_str(), 1);
    TCommX plain;
    plain.setPortNo(77);
    plain.Open();
    EXPECT_TRUE(plain.SendByte(0x44));
    EXPECT_EQ(pty.read(1, 2s), std::vector<std::uint8_t>{0x44});
    plain.Close();
    ::unsetenv("QRB117_COMPORTS");
}

}  // namespace
}  // namespace qrb
