// A lock held across test processes: tests that play other users plant
// objects under names fixed by those users' ids, so two such tests must
// not run at once (ctest runs each test in a process of its own, several
// at a time).
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

namespace zbx::test {

class ProcessLock {
public:
    explicit ProcessLock(const std::string& name)
        : fd_(::open(("/tmp/" + name + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ >= 0) (void)::flock(fd_, LOCK_EX);
    }
    ~ProcessLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;

private:
    int fd_;
};

}  // namespace zbx::test
