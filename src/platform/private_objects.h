// Checks for files, directories and locks that other local users must not
// be able to plant, read or hold: the shared camera block, its lock and the
// settings folder.  Every check is made on what was opened (fstat of the
// descriptor, lstat of a directory), never trusted from a name.
#pragma once

#include <cstdint>
#include <filesystem>

namespace zbx::platform {

// True when `fd` is a regular file owned by the effective user that no
// other user may read or write (no group or other permission bits).
[[nodiscard]] bool is_private_file(int fd);

// True when `dir` is a directory (not a symbolic link) owned by the
// effective user.  `exclusive` also asks that no other user may enter it
// (mode 0700 or stricter); otherwise only that nobody else may write in it.
[[nodiscard]] bool is_private_directory(const std::filesystem::path& dir, bool exclusive);

// The per-user runtime directory, $XDG_RUNTIME_DIR, when it is set to an
// absolute path of an exclusive private directory of the caller; empty
// otherwise.
[[nodiscard]] std::filesystem::path private_runtime_dir();

// Takes a flock on `fd` (exclusive or shared), trying again until
// `timeout_ms` has passed: a lock that someone holds for ever must not hang
// the caller.  False on time-out or error.
[[nodiscard]] bool lock_with_timeout(int fd, bool exclusive, std::uint32_t timeout_ms);

}  // namespace zbx::platform
