// Exports that need no session.
#include "api/guard.h"
#include "zorbex/zorbex.h"

namespace {
constexpr int kDllVersion = 28640543;  // 0x01B5051F
}

extern "C" int Zorbex_GetDllVersion(void) {
    return zbx::api::guarded(0, [] { return kDllVersion; });
}
