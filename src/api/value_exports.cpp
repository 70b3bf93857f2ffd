// Companion calls that publish the value table; they need no session.
#include "api/guard.h"
#include "session/value_table.h"
#include "zorbex/values.h"

namespace ss = zbx::session;
using zbx::api::guarded;

extern "C" int ZbxValues_Count(void) {
    return guarded(0, [] { return static_cast<int>(ss::value_table().size()); });
}

extern "C" int ZbxValues_At(int index, ZbxValueInfo* info) {
    return guarded(0, [&] {
        const auto table = ss::value_table();
        if (info == nullptr || index < 0 || static_cast<std::size_t>(index) >= table.size()) return 0;
        const ss::ValueEntry& e = table[static_cast<std::size_t>(index)];
        *info = ZbxValueInfo{e.id, e.name, e.min, e.max, e.default_value, e.flags, e.unit, e.meaning};
        return 1;
    });
}

extern "C" int ZbxValues_Find(const char* name) {
    return guarded(-1, [&] { return ss::find_value(name); });
}

extern "C" int ZbxValues_FindId(int id) {
    return guarded(-1, [&] { return ss::find_value_id(id); });
}
