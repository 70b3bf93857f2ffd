#include "support/child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

}  // namespace zbx::test
