// Listening on serial ports for a radio that waits for a PC.
//
// While the radio waits for a PC it sends the ready byte 50 now and then, so
// it can be found without sending anything: every port is opened at the
// write run's line settings and only read. A port counts as holding a radio
// when an arrival that starts with the ready byte follows a quiet moment (a
// chattering device that happens to send the byte mid-stream does not
// count). Ports that cannot be opened or that vanish never stop the search.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "writing/CommXLine.h"
#include "writing/Line.h"

namespace qrb::cli {

struct ListenedPort {
    int portNo = 0;
    std::string name;   // "COM7", or the device path given with --port
    std::string label;  // "UIA-42", or empty
    // A device path given by name, opened as it is; empty for the ports of
    // the COM port list.
    std::string devicePath;
};

// "COM7 (UIA-42)" or "COM7".
std::string DisplayName(const ListenedPort& port);
// The COM port list of the Configure dialog (QRB117_COMPORTS included).
std::vector<ListenedPort> ListedPorts();
// The settings a write run opens its port with.
PortSettings RunPortSettings(int portNo);

enum class PortVerdict { Silent, RadioWaiting, OtherBytes, CannotOpen, Vanished };

struct PortFinding {
    ListenedPort port;
    PortVerdict verdict = PortVerdict::Silent;
    std::string reason;  // why it could not be opened
};

// "COM7 (UIA-42): radio waiting for a PC", "COM1: silent", ...
std::string FindingText(const PortFinding& finding);

// A port on which a radio spoke, still open, with what it has sent so far:
// the arrival that began with the ready byte and any arrivals after it.
struct HeardRadio {
    ListenedPort port;
    std::unique_ptr<CommXLine> line;
    std::vector<std::vector<std::uint8_t>> arrivals;
};

class PortListener {
  public:
    // Called once for each port that vanished while listened to.
    using VanishNotice = std::function<void(const ListenedPort&)>;

    explicit PortListener(std::vector<ListenedPort> ports, VanishNotice onVanish = {});
    ~PortListener();
    PortListener(const PortListener&) = delete;
    PortListener& operator=(const PortListener&) = delete;

    // Opens every port; a port that cannot be opened is noted, not fatal.
    void openAll();
    // Handles events until the limit passes (none: no limit), stop() is
    // called, no port is left open, or, with untilFirstRadio, a radio spoke.
    void listen(std::optional<std::chrono::milliseconds> limit, bool untilFirstRadio);
    // Ends a listen() from an event handler (Ctrl+C).
    void stop() { stopped_ = true; }
    bool stopped() const { return stopped_; }

    std::vector<PortFinding> findings() const;
    // The first port on which a radio spoke, handed over open; every other
    // port is closed. Empty when no radio spoke.
    std::optional<HeardRadio> takeFirstRadio();
    // Names of the ports that were opened and listened to.
    std::vector<std::string> listenedNames() const;

  private:
    struct Port;
    void checkForVanishedPorts();
    bool anyOpen() const;

    std::vector<std::unique_ptr<Port>> ports_;
    VanishNotice onVanish_;
    Port* firstRadio_ = nullptr;
    bool stopped_ = false;
};

}  // namespace qrb::cli
