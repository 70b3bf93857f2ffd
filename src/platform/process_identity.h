// Which process owns a camera-table entry.  An identity packs the process id
// with the low 32 bits of the process's start time, so a process id that the
// system has handed to a new process does not pass for the old owner.
#pragma once

#include <cstdint>

namespace zbx::platform {

// Identity of the calling process; never 0.
[[nodiscard]] std::uint64_t current_process_identity();
// False when the process named by `identity` has ended (exited, killed, or a
// zombie left unreaped) or its id now belongs to another process.  True for
// the live owner, and when nothing can be told (identity without a process id).
[[nodiscard]] bool process_alive(std::uint64_t identity);

}  // namespace zbx::platform
