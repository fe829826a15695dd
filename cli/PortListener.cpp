#include "cli/PortListener.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <exception>

#include "serial/ComPortNames.h"
#include "serial/U_ComRS.h"

namespace qrb::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kReadyByte = 0x50;
// Silence before a ready byte counts; a byte inside a stream does not. The
// radio leaves far longer gaps between its ready bytes, a chattering device
// far shorter ones inside what it sends.
constexpr auto kQuietBeforeReady = std::chrono::milliseconds(30);
// How often the ports are checked for having gone away.
constexpr int kVanishCheckMs = 200;
constexpr int kReadChunk = 512;
// The framing error bit of OnError, with which a gone device is reported.
constexpr int kFramingError = 8;

std::string DevicePath(const ListenedPort& port) {
    return port.devicePath.empty() ? ComPortDevicePath(port.portNo) : port.devicePath;
}

bool DeviceExists(const ListenedPort& port) {
    const std::string path = DevicePath(port);
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

}  // namespace

std::string DisplayName(const ListenedPort& port) {
    return port.label.empty() ? port.name : port.name + " (" + port.label + ")";
}

std::vector<ListenedPort> ListedPorts() {
    const std::unique_ptr<RegistryReader> registry = MakeSystemRegistry();
    std::vector<std::string> entries;
    ListComPorts(*registry, entries);
    std::vector<ListenedPort> ports;
    for (const std::string& entry : entries) {
        // "COM12   (UIA-42)": the number ends at the first blank.
        ListenedPort port;
        port.name = entry.substr(0, entry.find(' '));
        port.portNo = std::atoi(port.name.c_str() + 3);
        const auto open = entry.find('(');
        const auto close = entry.rfind(')');
        if (open != std::string::npos && close != std::string::npos && close > open) {
            port.label = entry.substr(open + 1, close - open - 1);
        }
        if (port.portNo > 0) {
            ports.push_back(port);
        }
    }
    return ports;
}

PortSettings RunPortSettings(int portNo) {
    PortSettings settings;  // 38400 bit/s, 8 data bits, no parity, 2 stop bits, no flow control
    settings.portNo = portNo;
    return settings;
}

std::string FindingText(const PortFinding& finding) {
    const std::string name = DisplayName(finding.port);
    switch (finding.verdict) {
        case PortVerdict::RadioWaiting:
            return name + ": radio waiting for a PC";
        case PortVerdict::OtherBytes:
            return name + ": other bytes, no ready byte";
        case PortVerdict::CannotOpen:
            return name + ": busy or no permission: " + finding.reason;
        case PortVerdict::Vanished:
            return name + ": vanished while listened to";
        case PortVerdict::Silent:
            break;
    }
    return name + ": silent";
}

// One port being listened to: the line's event sink.
struct PortListener::Port final : LineEvents {
    Port() = default;
    virtual ~Port() = default;
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    ListenedPort port;
    std::unique_ptr<CommXLine> line;
    PortVerdict verdict = PortVerdict::Silent;
    std::string reason;
    Clock::time_point lastByteAt;                     // or the opening
    std::vector<std::vector<std::uint8_t>> arrivals;  // from the ready byte on
    std::function<void(Port&)> onRadio;

    void lineReceived(int receiveSize) override {
        std::vector<std::uint8_t> arrival;
        std::uint8_t chunk[kReadChunk];
        int remaining = receiveSize;
        while (remaining > 0) {
            const int got = line->receive(chunk, std::min(remaining, kReadChunk));
            if (got <= 0) {
                break;
            }
            arrival.insert(arrival.end(), chunk, chunk + got);
            remaining -= got;
        }
        if (arrival.empty()) {
            return;
        }
        const auto now = Clock::now();
        const bool afterQuiet = now - lastByteAt >= kQuietBeforeReady;
        lastByteAt = now;
        if (verdict == PortVerdict::RadioWaiting) {
            // Kept for the write run. A new announcement makes the earlier
            // ones stale: a run that had opened the port just now would meet
            // only the new one.
            if (afterQuiet && arrival.front() == kReadyByte) {
                arrivals.clear();
            }
            arrivals.push_back(std::move(arrival));
            return;
        }
        if (afterQuiet && arrival.front() == kReadyByte) {
            verdict = PortVerdict::RadioWaiting;
            arrivals.push_back(std::move(arrival));
            if (onRadio) {
                onRadio(*this);
            }
            return;
        }
        verdict = PortVerdict::OtherBytes;
    }
    void receiveTimerFired() override {}
};

PortListener::PortListener(std::vector<ListenedPort> ports, VanishNotice onVanish)
    : onVanish_(std::move(onVanish)) {
    for (auto& listened : ports) {
        auto port = std::make_unique<Port>();
        CommXOptions reach;
        if (!listened.devicePath.empty()) {
            reach.devicePathFor = [path = listened.devicePath](int) { return path; };
        }
        port->line = std::make_unique<CommXLine>(std::move(reach));
        port->port = std::move(listened);
        port->line->setEvents(port.get());
        port->onRadio = [this](Port& p) {
            if (firstRadio_ == nullptr) {
                firstRadio_ = &p;
            }
        };
        port->line->comm().OnError = [this](TCustomCommX*, int errorState) {
            if ((errorState & kFramingError) != 0) {
                checkForVanishedPorts();
            }
        };
        ports_.push_back(std::move(port));
    }
}

PortListener::~PortListener() {
    for (auto& port : ports_) {
        if (port->line) {
            port->line->setEvents(nullptr);
            port->line->close();
        }
    }
}

void PortListener::openAll() {
    for (auto& port : ports_) {
        port->line->configure(RunPortSettings(port->port.portNo));
        try {
            port->line->open();
            port->lastByteAt = Clock::now();
        } catch (const std::exception& e) {
            port->line->close();
            port->verdict = PortVerdict::CannotOpen;
            const std::error_code why = port->line->comm().LastOpenError();
            port->reason = why ? why.message() : e.what();
        }
    }
}

void PortListener::checkForVanishedPorts() {
    for (auto& port : ports_) {
        if (port->line && port->line->isOpen() && !DeviceExists(port->port)) {
            port->line->setEvents(nullptr);
            port->line->close();
            port->verdict = PortVerdict::Vanished;
            if (firstRadio_ == port.get()) {
                firstRadio_ = nullptr;
            }
            if (onVanish_) {
                onVanish_(port->port);
            }
        }
    }
}

void PortListener::listen(std::optional<std::chrono::milliseconds> limit, bool untilFirstRadio) {
    bool timeUp = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&timeUp] { timeUp = true; });
    if (limit) {
        deadline.start(*limit);
    }
    // Also wakes the loop regularly, so that a flag set anywhere is seen.
    QTimer vanishCheck;
    QObject::connect(&vanishCheck, &QTimer::timeout, [this] { checkForVanishedPorts(); });
    vanishCheck.start(kVanishCheckMs);
    while (!timeUp && !stopped_ && anyOpen() && !(untilFirstRadio && firstRadio_ != nullptr)) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

bool PortListener::anyOpen() const {
    for (const auto& port : ports_) {
        if (port->line && port->line->isOpen()) {
            return true;
        }
    }
    return false;
}

std::vector<PortFinding> PortListener::findings() const {
    std::vector<PortFinding> out;
    for (const auto& port : ports_) {
        out.push_back({port->port, port->verdict, port->reason});
    }
    return out;
}

std::vector<std::string> PortListener::listenedNames() const {
    std::vector<std::string> names;
    for (const auto& port : ports_) {
        if (port->verdict != PortVerdict::CannotOpen) {
            names.push_back(DisplayName(port->port));
        }
    }
    return names;
}

std::optional<HeardRadio> PortListener::takeFirstRadio() {
    if (firstRadio_ == nullptr) {
        return std::nullopt;
    }
    HeardRadio heard;
    for (auto& port : ports_) {
        if (port.get() != firstRadio_ && port->line) {
            port->line->setEvents(nullptr);
            port->line->close();  // nothing was ever sent on it
        }
    }
    // Closing takes a while; what the radio sent meanwhile is fetched now,
    // so the run meets its latest announcement.
    QCoreApplication::processEvents();
    if (firstRadio_ == nullptr || !firstRadio_->line->isOpen()) {
        return std::nullopt;  // it vanished meanwhile
    }
    heard.port = firstRadio_->port;
    heard.arrivals = std::move(firstRadio_->arrivals);
    firstRadio_->line->setEvents(nullptr);
    heard.line = std::move(firstRadio_->line);
    firstRadio_ = nullptr;
    return heard;
}

}  // namespace qrb::cli
