// Recording of the live stream into an AVI file.
#include <cstdint>

#include "api/export_shape.h"
#include "session/recording.h"
#include "zorbex/zorbex.h"

using zbx::api::kFailed;
using zbx::api::with_session;
using zbx::session::CZorbex;

extern "C" int Zorbex_Record(ZbxHandle h, const char* file_name, int duration_ms, int show) {
    return with_session(h, kFailed, [&](CZorbex& s) {
        return s.recorder().record(file_name, static_cast<std::uint32_t>(duration_ms), show);
    });
}

extern "C" int Zorbex_RecordW(ZbxHandle h, const char16_t* file_name, int duration_ms, int show) {
    return with_session(h, kFailed, [&](CZorbex& s) {
        return s.recorder().record(file_name, static_cast<std::uint32_t>(duration_ms), show);
    });
}
