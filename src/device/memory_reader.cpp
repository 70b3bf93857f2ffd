#include "device/memory_reader.h"

#include <cstring>

namespace zbx::device {

const std::uint8_t* MemoryReader::load(const char* name) {
    release();
    cursor_ = file_.load(name);
    return cursor_;
}

void MemoryReader::release() {
    file_.release();
    cursor_ = nullptr;
}

bool MemoryReader::read(void* out, std::size_t count) {
    if (remaining() < count) return false;
    std::memcpy(out, cursor_, count);
    cursor_ += count;
    return true;
}

bool MemoryReader::read_le32(std::int32_t* value) {
    std::uint8_t b[4];
    if (!read(b, sizeof b)) return false;
    *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                                       static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24);
    return true;
}

}  // namespace zbx::device
