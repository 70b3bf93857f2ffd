// The shared camera table: a named block that every process using the
// library maps, telling which cameras are streaming and for whom.
//
// Entry n (152 bytes) at kCameraTableOffset + n * 152:
//   0   8  notification window of the streaming session; 0 = free
//   8   8  owner: identity of the session's process (see process_identity.h)
//   16  8  reserved, 0; an entry is released only while it is 0
//   24 128 "ZorbexSdk_530RD_NQT.dll" while in use, empty when free
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/shared_memory.h"

namespace zbx::device {

inline constexpr char kSharedBlockName[] = "TEVRUN_USBCAMERA";
inline constexpr std::size_t kSharedBlockSize = 0x4C0000;
// The creator clears this much; the rest of the block is reserved.
inline constexpr std::size_t kSharedBlockClearedBytes = 0x8000;
inline constexpr std::size_t kCameraTableOffset = 2'125'568;
inline constexpr std::size_t kCameraEntrySize = 152;
inline constexpr std::size_t kCameraEntryTextSize = 128;
inline constexpr int kCameraTableEntries = 32;
inline constexpr char kCameraEntryText[] = "ZorbexSdk_530RD_NQT.dll";

struct CameraEntry {
    std::uint64_t window = 0;
    std::uint64_t owner = 0;
    std::uint64_t reserved = 0;
    std::string text;
};

class SharedCameraTable {
public:
    SharedCameraTable() = default;
    SharedCameraTable(const SharedCameraTable&) = delete;
    SharedCameraTable& operator=(const SharedCameraTable&) = delete;

    // Session start-up: opens the block or, when there is none, creates it
    // and clears its first 0x8000 bytes.  True when a view is there.
    bool open_session_block();
    // The open step only.
    bool open(const char* name);
    // Opens, or creates with `size` bytes.  *created says which.
    bool open_or_create(const char* name, std::size_t size, bool* created);
    void close() { memory_.close(); }
    [[nodiscard]] bool is_open() const { return memory_.is_open() && memory_.size() >= kSharedBlockSize; }
    // Why the last open failed.
    [[nodiscard]] platform::SharedMemoryError last_error() const { return memory_.last_error(); }

    // Both return 0 without a block (or for a number outside 0 to 31) and 1
    // otherwise.  Stopping clears the entry only when it names `window` and
    // this process and its reserved field is 0.
    int mark_running(int device_number, std::uintptr_t window);
    int mark_stopped(int device_number, std::uintptr_t window);
    // True while another live session streams from the camera.  An entry left
    // by a process that has ended counts as free and is cleared.
    [[nodiscard]] bool in_use(int device_number);

    [[nodiscard]] CameraEntry entry(int device_number) const;
    [[nodiscard]] std::uint8_t* data() { return memory_.data(); }

private:
    [[nodiscard]] std::uint8_t* entry_bytes(int device_number);
    [[nodiscard]] const std::uint8_t* entry_bytes(int device_number) const;

    platform::SharedMemory memory_;
};

}  // namespace zbx::device
