// Serial component benchmarks on a pseudo-terminal.
//
//   1. Time from a byte's arrival (written on the master side) to OnReceive
//      on the owner thread, which waits in its event loop: median and 99th
//      percentile (target: under 2 ms at the 99th).
//   2. One Master CPU frame: 133 single-byte sends answered by an echo of
//      each byte plus 6 reply bytes, until all 139 are received; median and
//      99th percentile per frame. A pseudo-terminal does not pace bytes, so
//      this is the software overhead (target: far below 0.5 ms). Judged is
//      the write engine's way, SendEach over the frame; 133 SendByte calls
//      are printed beside it. The two alternate frame by frame, so a busy
//      host weighs on both alike.
//   3. Processor time of an open, idle component over 10 s (target: none
//      measurable).
// Prints one line per figure.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "serial/CommX.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Pty {
    int master = -1;
    std::string slave;

    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        std::array<char, 128> name{};
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
            ::ptsname_r(master, name.data(), name.size()) != 0) {
            std::perror("pseudo-terminal");
            std::exit(1);
        }
        slave = name.data();
    }
    ~Pty() { ::close(master); }
};

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

qrb::CommXOptions OptionsFor(const Pty& pty) {
    qrb::CommXOptions options;
    options.devicePathFor = [path = pty.slave](int) { return path; };
    return options;
}

void ConfigureLikeTheWriteRun(qrb::TCommX& comm) {
    comm.setBitRate(38400);
    comm.setStopBit(qrb::TCommStopBits::csb2);
    comm.setFlowCtrl(qrb::TCommFlowCtrls::cfcNone);
    comm.setTimeOutReceive(5000);
}

void ArrivalLatency() {
    Pty pty;
    qrb::TCommX comm(nullptr, OptionsFor(pty));
    ConfigureLikeTheWriteRun(comm);
    std::atomic<Clock::rep> receivedAt{0};
    comm.OnReceive = [&](qrb::TCustomCommX*, int size) {
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
        comm.Receive(buffer.data(), size);
        receivedAt.store(Clock::now().time_since_epoch().count());
    };
    comm.Open();

    constexpr int kSamples = 2000;
    std::vector<double> latenciesMs;
    std::atomic<bool> done{false};
    std::thread radio([&] {
        for (int i = 0; i < kSamples; ++i) {
            receivedAt.store(0);
            const std::uint8_t byte = static_cast<std::uint8_t>(i);
            const auto sentAt = Clock::now();
            if (::write(pty.master, &byte, 1) != 1) {
                break;
            }
            while (receivedAt.load() == 0) {
                std::this_thread::sleep_for(50us);
            }
            const auto latency = Clock::time_point(Clock::duration(receivedAt.load())) - sentAt;
            latenciesMs.push_back(std::chrono::duration<double, std::milli>(latency).count());
            std::this_thread::sleep_for(500us);
        }
        done.store(true);
    });
    QTimer wakeToCheck;  // lets the loop below notice the end
    wakeToCheck.start(100);
    while (!done.load()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    radio.join();
    comm.Close();
    std::printf("serial arrival to OnReceive: median %.3f ms, p99 %.3f ms (target p99 < 2 ms)\n",
                Percentile(latenciesMs, 0.5), Percentile(latenciesMs, 0.99));
}

void MasterFrameRoundTrip() {
    Pty pty;
    qrb::TCommX comm(nullptr, OptionsFor(pty));
    ConfigureLikeTheWriteRun(comm);
    int received = 0;
    comm.OnReceive = [&](qrb::TCustomCommX*, int size) {
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
        received += std::max(comm.Receive(buffer.data(), size), 0);
    };
    comm.Open();

    constexpr int kFrameBytes = 133;
    constexpr int kReplyBytes = 6;
    std::atomic<bool> stop{false};
    std::thread radio([&] {  // echoes every byte, adds the reply after each frame
        std::array<std::uint8_t, 512> chunk{};
        int inFrame = 0;
        while (!stop.load()) {
            pollfd in{pty.master, POLLIN, 0};
            if (::poll(&in, 1, 20) <= 0) {
                continue;
            }
            const ssize_t got = ::read(pty.master, chunk.data(), chunk.size());
            if (got <= 0) {
                continue;
            }
            std::vector<std::uint8_t> answer(chunk.begin(), chunk.begin() + got);
            inFrame += static_cast<int>(got);
            if (inFrame >= kFrameBytes) {
                inFrame -= kFrameBytes;
                answer.insert(answer.end(), kReplyBytes, 0x06);
            }
            [[maybe_unused]] const ssize_t written =
                ::write(pty.master, answer.data(), answer.size());
        }
    });

    constexpr int kFrames = 1000;
    std::array<std::uint8_t, kFrameBytes> frame{};
    for (int i = 0; i < kFrameBytes; ++i) {
        frame[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    const auto timeFrame = [&](bool eachByteItsOwnCall) {
        received = 0;
        const auto start = Clock::now();
        if (eachByteItsOwnCall) {
            for (std::uint8_t value : frame) {
                comm.SendByte(value);
            }
        } else {
            comm.SendEach(frame.data(), kFrameBytes);
        }
        while (received < kFrameBytes + kReplyBytes) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    std::vector<double> sendEachMs;
    std::vector<double> sendByteMs;
    for (int round = 0; round < kFrames; ++round) {
        sendEachMs.push_back(timeFrame(false));
        sendByteMs.push_back(timeFrame(true));
    }
    stop.store(true);
    radio.join();
    comm.Close();
    std::printf(
        "serial Master CPU frame (SendEach of 133 bytes + 139 bytes back, unpaced): median %.3f "
        "ms, p99 %.3f ms (target far below 0.5 ms)\n",
        Percentile(sendEachMs, 0.5), Percentile(sendEachMs, 0.99));
    std::printf("  the same frame as 133 SendByte calls: median %.3f ms, p99 %.3f ms\n",
                Percentile(sendByteMs, 0.5), Percentile(sendByteMs, 0.99));
}

double ProcessorMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec)) /
           1000.0;
}

void IdleProcessorTime() {
    Pty pty;
    qrb::TCommX comm(nullptr, OptionsFor(pty));
    ConfigureLikeTheWriteRun(comm);
    comm.OnReceive = [](qrb::TCustomCommX*, int) {};
    comm.Open();
    const double before = ProcessorMs();
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    const double used = ProcessorMs() - before;
    comm.Close();
    std::printf("serial open idle component, processor time over 10 s: %.2f ms (target: none)\n",
                used);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ArrivalLatency();
    MasterFrameRoundTrip();
    IdleProcessorTime();
    return 0;
}
