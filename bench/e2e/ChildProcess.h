// A program the write benchmark starts: fork/exec with its standard output
// and error in files, waited for with a deadline, and its exact processor
// time (user + system) taken from wait4() when it ends.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace qrb::bench {

class ChildProcess {
  public:
    // Starts argv[0] with its arguments; standard input is /dev/null.
    // Throws std::system_error when the program cannot be started.
    ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath,
                 const std::string& stderrPath);
    // A child still running is killed and reaped.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits until the child has ended; false when `limit` passed first.
    bool waitFor(std::chrono::milliseconds limit);
    // SIGTERM, then SIGKILL when it has not ended after `grace`; reaps it.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

    bool ended() const { return ended_; }
    // True when it exited by itself with status 0.
    bool succeeded() const;
    // "exit status 1", "killed by signal 9", "still running"
    std::string endText() const;

    // From the fork to the moment its end was seen, in seconds.
    double wallSeconds() const { return wallSeconds_; }
    double userSeconds() const { return userSeconds_; }
    double systemSeconds() const { return systemSeconds_; }
    double cpuSeconds() const { return userSeconds_ + systemSeconds_; }

  private:
    void reap();

    pid_t pid_ = -1;
    int pidFd_ = -1;  // readable once the child has ended
    std::chrono::steady_clock::time_point started_;
    bool ended_ = false;
    int status_ = 0;
    double wallSeconds_ = 0;
    double userSeconds_ = 0;
    double systemSeconds_ = 0;
};

}  // namespace qrb::bench
