// A pseudo-terminal pair for tests: the test holds the master side (the
// "radio"), the component opens the slave side through its device path.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qrb::test {

class PtyPair {
  public:
    PtyPair();  // fails the current test when no pair can be made
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    bool valid() const { return master_ >= 0; }

    void write(const std::vector<std::uint8_t>& bytes);
    // Reads until count bytes came or timeout passed; returns what came.
    std::vector<std::uint8_t> read(std::size_t count, std::chrono::milliseconds timeout);
    // Closes the master side: the slave's device "vanishes".
    void closeMaster();

  private:
    int master_ = -1;
    std::string slavePath_;
};

// Handles Qt events until pred() holds or timeout passes.
bool PumpUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
// Handles Qt events for the whole duration.
void PumpFor(std::chrono::milliseconds duration);

}  // namespace qrb::test
