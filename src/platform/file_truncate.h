// Cutting an open file short: what a writer needs when a failed write may
// have left bytes past the end of the data it finally describes.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace zbx::platform {

// Sets the size of the open `file` to `size` bytes (bytes beyond it are
// dropped; a shorter file grows with zeros).  False when the file is closed
// or the system refuses.  Shrinking needs no free space, so it works on a
// full disk.
[[nodiscard]] bool truncate_file(File& file, std::uint64_t size);

}  // namespace zbx::platform
