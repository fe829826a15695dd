// Child processes for end-to-end tests: the simulator and the command-line
// program, with their output in files and a time limit on every wait.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace e2e {

struct ProcessResult {
    int exitStatus = -1;  // -1 when killed by a signal or timed out
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Starts program with args; standard output and error go to files in dir.
class Process {
  public:
    Process(const std::string& program, const std::vector<std::string>& args,
            const std::filesystem::path& dir, const std::string& name);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Waits for the exit; kills the child when the limit passes.
    ProcessResult wait(std::chrono::seconds limit);
    void signal(int signo);
    bool running();

  private:
    pid_t pid_ = -1;
    std::filesystem::path outPath_;
    std::filesystem::path errPath_;
    int status_ = -1;
    bool reaped_ = false;
};

// Runs a program to its end.
ProcessResult Run(const std::string& program, const std::vector<std::string>& args,
                  const std::filesystem::path& dir, const std::string& name,
                  std::chrono::seconds limit);

std::string ReadFile(const std::filesystem::path& path);

}  // namespace e2e
