// A whole file brought into memory with a read cursor, for the
// configuration loader.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files.h"

namespace zbx::device {

class MemoryReader {
public:
    // Loads the whole file; data pointer (never null after success, even
    // for an empty file) or null, leaving the reader empty.
    const std::uint8_t* load(const char* name);
    void release();

    [[nodiscard]] const std::uint8_t* data() const { return file_.data(); }
    [[nodiscard]] const std::uint8_t* end() const { return file_.end(); }
    [[nodiscard]] const std::uint8_t* cursor() const { return cursor_; }
    [[nodiscard]] std::uint32_t size() const { return file_.size(); }
    [[nodiscard]] std::size_t remaining() const {
        return cursor_ ? static_cast<std::size_t>(end() - cursor_) : 0;
    }
    // Copies the next `count` bytes and moves past them; false (nothing
    // moved) when fewer remain.
    [[nodiscard]] bool read(void* out, std::size_t count);
    // A signed 32-bit little-endian value.
    [[nodiscard]] bool read_le32(std::int32_t* value);

private:
    platform::MemoryReader file_;
    const std::uint8_t* cursor_ = nullptr;
};

}  // namespace zbx::device
