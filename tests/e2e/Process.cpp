#include "Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace e2e {

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const std::filesystem::path& dir, const std::string& name)
    : outPath_(dir / (name + ".out")), errPath_(dir / (name + ".err")) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::chdir(dir.c_str());
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
}

Process::~Process() {
    if (running()) {
        signal(SIGKILL);
        wait(std::chrono::seconds(5));
    }
}

bool Process::running() {
    if (reaped_ || pid_ <= 0) {
        return false;
    }
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
        reaped_ = true;
        return false;
    }
    return true;
}

void Process::signal(int signo) {
    if (!reaped_ && pid_ > 0) {
        ::kill(pid_, signo);
    }
}

ProcessResult Process::wait(std::chrono::seconds limit) {
    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            signal(SIGKILL);
            ::waitpid(pid_, &status_, 0);
            reaped_ = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!result.timedOut && WIFEXITED(status_)) {
        result.exitStatus = WEXITSTATUS(status_);
    }
    result.out = ReadFile(outPath_);
    result.err = ReadFile(errPath_);
    return result;
}

ProcessResult Run(const std::string& program, const std::vector<std::string>& args,
                  const std::filesystem::path& dir, const std::string& name,
                  std::chrono::seconds limit) {
    Process p(program, args, dir, name);
    return p.wait(limit);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace e2e
