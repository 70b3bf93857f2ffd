#include "session/value_table.h"

#include <array>
#include <cctype>

#include "device/zorbex_530_sdk.h"
#include "session/session_state.h"

namespace zbx::session {

namespace {

using Sensor = device::CZorbex530SRXNQTSdk;
using Ix = AdjustmentIndex;

#define ZBX_VALUE_ENTRY(id, name, home, index, min, max, initial, flags, unit, meaning) \
    ValueEntry{id, #name, ValueHome::home, index, min, max, initial, flags, unit, meaning},

constexpr ValueEntry kEntries[] = {ZBX_VALUE_TABLE(ZBX_VALUE_ENTRY, ZBX_VALUE_ENTRY)};

#undef ZBX_VALUE_ENTRY

constexpr bool filter_ids_lead_in_order() {
    for (int id = kMinFilterValueId; id <= kMaxFilterValueId; ++id)
        if (kEntries[id - 1].id != id || kEntries[id - 1].home == ValueHome::kOwnExports) return false;
    for (std::size_t i = kMaxFilterValueId; i < std::size(kEntries); ++i)
        if (kEntries[i].home != ValueHome::kOwnExports) return false;
    return true;
}
static_assert(filter_ids_lead_in_order(), "ids 1 to 28 lead the value table in order, the settings follow");

// Letters and digits only, lower case: "Bayer_Gain-RGB" and "bayergainrgb"
// compare equal.
bool same_name(const char* table_name, const char* name) {
    const char* a = table_name;
    const char* b = name;
    for (;;) {
        while (*b == '_' || *b == '-') ++b;
        if (*a == '\0' || *b == '\0') return *a == '\0' && *b == '\0';
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
        ++a;
        ++b;
    }
}

}  // namespace

std::span<const ValueEntry> value_table() { return kEntries; }

const ValueEntry* filter_value_spec(int id) {
    if (id < kMinFilterValueId || id > kMaxFilterValueId) return nullptr;
    return &kEntries[static_cast<std::size_t>(id - 1)];
}

int find_value(const char* name) {
    if (name == nullptr) return -1;
    for (std::size_t i = 0; i < std::size(kEntries); ++i)
        if (same_name(kEntries[i].name, name)) return static_cast<int>(i);
    return -1;
}

int find_value_id(int id) {
    for (std::size_t i = 0; i < std::size(kEntries); ++i)
        if (kEntries[i].id == id) return static_cast<int>(i);
    return -1;
}

}  // namespace zbx::session
