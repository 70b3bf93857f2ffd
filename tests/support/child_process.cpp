#include "support/child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstdio>
#include <thread>

namespace zbx::test {

ChildProcess::ChildProcess(std::function<int()> body) {
    std::fflush(nullptr);  // no doubled buffered output
    pid_ = ::fork();
    if (pid_ == 0) {
        int code = 127;
        try {
            code = body();
        } catch (...) {
            code = 126;
        }
        std::fflush(nullptr);
        ::_exit(code);
    }
}

ChildProcess::~ChildProcess() { wait(); }

int ChildProcess::wait() {
    if (pid_ <= 0) return status_;
    int raw = 0;
    pid_t r;
    do r = ::waitpid(pid_, &raw, 0);
    while (r < 0 && errno == EINTR);
    pid_ = -1;
    status_ = (r > 0 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
    return status_;
}

int run_in_child_bounded(const std::function<int()>& body, std::chrono::seconds limit) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const int code = body();
        std::fflush(nullptr);
        ::_exit(code);
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace zbx::test
