#include "platform/file_truncate.h"

#include <unistd.h>

#include <cerrno>
#include <limits>

namespace zbx::platform {

bool truncate_file(File& file, std::uint64_t size) {
    if (!file.is_open() || size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    int result;
    do result = ::ftruncate(file.fd(), static_cast<off_t>(size));
    while (result != 0 && errno == EINTR);
    return result == 0;
}

}  // namespace zbx::platform
