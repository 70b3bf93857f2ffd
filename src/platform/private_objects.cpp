#include "platform/private_objects.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace zbx::platform {

bool is_private_file(int fd) {
    struct stat st{};
    return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

bool is_private_directory(const std::filesystem::path& dir, bool exclusive) {
    struct stat st{};
    if (dir.empty() || ::lstat(dir.c_str(), &st) != 0) return false;
    const mode_t others = exclusive ? 077 : 022;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & others) == 0;
}

std::filesystem::path private_runtime_dir() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (dir == nullptr || dir[0] != '/') return {};
    std::filesystem::path path(dir);
    return is_private_directory(path, true) ? path : std::filesystem::path{};
}

bool lock_with_timeout(int fd, bool exclusive, std::uint32_t timeout_ms) {
    if (fd < 0) return false;
    const int op = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    auto pause = std::chrono::microseconds(100);
    for (;;) {
        if (::flock(fd, op) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // Holders keep these locks for microseconds; back off up to 10 ms.
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(10000));
    }
}

}  // namespace zbx::platform
