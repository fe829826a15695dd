// End-to-end fixture: a temporary folder, rq7300-sim on a pseudo-terminal
// linked into it, qrb117-cli run against it, and firmware files made by the
// standard tools from a known binary.
#pragma once

#include <QJsonObject>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Process.h"

namespace e2e {

inline const std::string kFailureTextStart = "No acknowledgement from the radio.";
inline const std::string kCompletionTextStart = "The writing procedure is completed.";

class CliAgainstSim : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the simulator with --link, --report and --memory-out in dir_.
    void startSim(const std::vector<std::string>& args);
    // Waits for the simulator to end (it ends after the end command; SIGTERM
    // otherwise) and parses its report.
    QJsonObject finishSim();
    std::vector<std::uint8_t> simMemory() const;

    ProcessResult cli(const std::vector<std::string>& args,
                      std::chrono::seconds limit = std::chrono::seconds(120));
    ProcessResult write(const std::string& file, const std::vector<std::string>& extra = {},
                        std::chrono::seconds limit = std::chrono::seconds(120));

    // Random bytes from a fixed seed.
    static std::vector<std::uint8_t> Binary(std::size_t size, std::uint32_t seed);
    // A firmware file: header lines, then the records objcopy makes of the
    // binary ("srec" or "ihex"); written into dir_ under name.
    std::string MakeFile(const std::string& name, const std::vector<std::uint8_t>& binary,
                         const std::string& format, const std::vector<std::string>& header);

    std::filesystem::path dir_;
    std::unique_ptr<Process> sim_;
};

std::string Tail(const std::string& text, std::size_t count);

}  // namespace e2e
