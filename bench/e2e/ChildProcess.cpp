// Child processes of the write benchmark.
#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace qrb::bench {
namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void execChild(char* const* argv, const char* out, const char* err, int errorPipe) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int outFd = ::open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = ::open(err, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in >= 0 && outFd >= 0 && errFd >= 0 && ::dup2(in, STDIN_FILENO) >= 0 &&
        ::dup2(outFd, STDOUT_FILENO) >= 0 && ::dup2(errFd, STDERR_FILENO) >= 0) {
        ::execv(argv[0], argv);
    }
    // Tell the parent why the program did not start.
    const int error = errno;
    [[maybe_unused]] const ssize_t written = ::write(errorPipe, &error, sizeof error);
    ::_exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath,
                           const std::string& stderrPath) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        fail("pipe2");
    }
    started_ = std::chrono::steady_clock::now();
    pid_ = ::fork();
    if (pid_ < 0) {
        ::close(errorPipe[0]);
        ::close(errorPipe[1]);
        fail("fork");
    }
    if (pid_ == 0) {
        ::close(errorPipe[0]);
        execChild(args.data(), stdoutPath.c_str(), stderrPath.c_str(), errorPipe[1]);
    }
    ::close(errorPipe[1]);
    int childError = 0;
    const ssize_t got = ::read(errorPipe[0], &childError, sizeof childError);
    ::close(errorPipe[0]);
    if (got == static_cast<ssize_t>(sizeof childError)) {
        reap();
        errno = childError;
        fail("cannot start " + argv.front());
    }
    // glibc 2.36 declares pidfd_open without C linkage for C++; call it directly.
    pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidFd_ < 0) {
        const int error = errno;
        stop();
        errno = error;
        fail("pidfd_open");
    }
}

ChildProcess::~ChildProcess() {
    if (!ended_) {
        stop(std::chrono::milliseconds(500));
    }
    if (pidFd_ >= 0) {
        ::close(pidFd_);
    }
}

bool ChildProcess::waitFor(std::chrono::milliseconds limit) {
    if (ended_) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd end{pidFd_, POLLIN, 0};
        const int ready = ::poll(&end, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready > 0) {
            reap();
            return true;
        }
        if (ready == 0) {
            return false;
        }
        if (errno != EINTR) {
            fail("poll on the child");
        }
    }
}

void ChildProcess::stop(std::chrono::milliseconds grace) {
    if (ended_ || pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    if (pidFd_ >= 0 && waitFor(grace)) {
        return;
    }
    ::kill(pid_, SIGKILL);
    reap();
}

void ChildProcess::reap() {
    rusage usage{};
    pid_t got = -1;
    do {
        got = ::wait4(pid_, &status_, 0, &usage);
    } while (got < 0 && errno == EINTR);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - started_;
    wallSeconds_ = wall.count();
    userSeconds_ = seconds(usage.ru_utime);
    systemSeconds_ = seconds(usage.ru_stime);
    ended_ = true;
}

bool ChildProcess::succeeded() const {
    return ended_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
}

std::string ChildProcess::endText() const {
    if (!ended_) {
        return "still running";
    }
    if (WIFEXITED(status_)) {
        return "exit status " + std::to_string(WEXITSTATUS(status_));
    }
    if (WIFSIGNALED(status_)) {
        return "killed by signal " + std::to_string(WTERMSIG(status_));
    }
    return "ended with status " + std::to_string(status_);
}

}  // namespace qrb::bench
