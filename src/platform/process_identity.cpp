#include "platform/process_identity.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace zbx::platform {

namespace {

struct ProcessStat {
    char state = '?';
    std::uint64_t start_time = 0;
};

// Reads state and start time (clock ticks after boot) from /proc/<pid>/stat.
bool read_stat(long pid, ProcessStat* out) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    std::FILE* file = std::fopen(path, "r");
    if (!file) return false;
    char line[1024] = {};
    const std::size_t n = std::fread(line, 1, sizeof line - 1, file);
    std::fclose(file);
    line[n] = '\0';
    // The command name may hold spaces and parentheses: fields resume after the last ')'.
    const char* p = std::strrchr(line, ')');
    if (!p) return false;
    std::string rest(p + 1);
    char state = '?';
    unsigned long long start = 0;
    // state is field 3, starttime field 22: 18 fields lie between them.
    if (std::sscanf(rest.c_str(), " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                    &state, &start) != 2) {
        return false;
    }
    out->state = state;
    out->start_time = start;
    return true;
}

}  // namespace

std::uint64_t current_process_identity() {
    const auto pid = static_cast<std::uint32_t>(::getpid());
    ProcessStat stat;
    const std::uint64_t start = read_stat(pid, &stat) ? stat.start_time & 0xFFFFFFFFu : 0;
    return start << 32 | pid;
}

bool process_alive(std::uint64_t identity) {
    const auto pid = static_cast<std::uint32_t>(identity);
    if (pid == 0 || pid > 0x7FFFFFFFu) return true;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return false;
    ProcessStat stat;
    if (!read_stat(pid, &stat)) return true;
    if (stat.state == 'Z' || stat.state == 'X') return false;
    const std::uint64_t start = identity >> 32;
    return start == 0 || start == (stat.start_time & 0xFFFFFFFFu);
}

}  // namespace zbx::platform
