#include "device/camera_table.h"

#include <atomic>
#include <cstring>

#include "platform/process_identity.h"

namespace zbx::device {

using platform::current_process_identity;
using platform::process_alive;

namespace {

constexpr std::size_t kWindowField = 0;
constexpr std::size_t kOwnerField = 8;
constexpr std::size_t kReservedField = 16;
constexpr std::size_t kTextField = 24;

// Entries are 8-byte aligned in a page-aligned block, so their words can be
// read and changed atomically by every process that maps it.
std::atomic_ref<std::uint64_t> word(std::uint8_t* entry, std::size_t field) {
    return std::atomic_ref<std::uint64_t>(*reinterpret_cast<std::uint64_t*>(entry + field));
}

std::uint64_t load_word(const std::uint8_t* entry, std::size_t field) {
    return word(const_cast<std::uint8_t*>(entry), field).load();
}

}  // namespace

bool SharedCameraTable::open_session_block() {
    if (open(kSharedBlockName)) return true;
    bool created = false;
    if (!open_or_create(kSharedBlockName, kSharedBlockSize, &created)) return false;
    if (created) std::memset(memory_.data(), 0, kSharedBlockClearedBytes);
    return true;
}

bool SharedCameraTable::open(const char* name) { return memory_.open(name) && is_open(); }

bool SharedCameraTable::open_or_create(const char* name, std::size_t size, bool* created) {
    return memory_.open_or_create(name, size, created) && is_open();
}

std::uint8_t* SharedCameraTable::entry_bytes(int device_number) {
    if (!is_open() || device_number < 0 || device_number >= kCameraTableEntries) return nullptr;
    return memory_.data() + kCameraTableOffset + static_cast<std::size_t>(device_number) * kCameraEntrySize;
}

const std::uint8_t* SharedCameraTable::entry_bytes(int device_number) const {
    return const_cast<SharedCameraTable*>(this)->entry_bytes(device_number);
}

int SharedCameraTable::mark_running(int device_number, std::uintptr_t window) {
    std::uint8_t* e = entry_bytes(device_number);
    if (!e) return 0;
    // Owner first: a concurrent clean-up of a stale entry then leaves it alone.
    word(e, kOwnerField).store(current_process_identity());
    word(e, kReservedField).store(0);
    word(e, kWindowField).store(window);
    std::memset(e + kTextField, 0, kCameraEntryTextSize);
    std::memcpy(e + kTextField, kCameraEntryText, sizeof kCameraEntryText - 1);
    return 1;
}

int SharedCameraTable::mark_stopped(int device_number, std::uintptr_t window) {
    std::uint8_t* e = entry_bytes(device_number);
    if (!e) return 0;
    if (load_word(e, kWindowField) == window && load_word(e, kOwnerField) == current_process_identity() &&
        load_word(e, kReservedField) == 0) {
        word(e, kWindowField).store(0);
        word(e, kOwnerField).store(0);
        std::memset(e + kTextField, 0, kCameraEntryTextSize);
    }
    return 1;
}

bool SharedCameraTable::in_use(int device_number) {
    std::uint8_t* e = entry_bytes(device_number);
    if (!e) return false;
    std::uint64_t window = load_word(e, kWindowField);
    if (window == 0) return false;
    std::uint64_t owner = load_word(e, kOwnerField);
    if (owner == 0 || load_word(e, kReservedField) != 0 || process_alive(owner)) return true;
    // The owner ended without stopping.  Claim the entry by its owner word so
    // that a session marking it at the same moment keeps its mark.
    if (!word(e, kOwnerField).compare_exchange_strong(owner, 0)) return true;
    if (word(e, kWindowField).compare_exchange_strong(window, 0) && load_word(e, kOwnerField) == 0) {
        std::memset(e + kTextField, 0, kCameraEntryTextSize);
    }
    return load_word(e, kWindowField) != 0;
}

CameraEntry SharedCameraTable::entry(int device_number) const {
    CameraEntry out;
    const std::uint8_t* e = entry_bytes(device_number);
    if (!e) return out;
    out.window = load_word(e, kWindowField);
    out.owner = load_word(e, kOwnerField);
    out.reserved = load_word(e, kReservedField);
    const char* text = reinterpret_cast<const char*>(e + kTextField);
    out.text.assign(text, strnlen(text, kCameraEntryTextSize));
    return out;
}

}  // namespace zbx::device
