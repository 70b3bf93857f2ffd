// Still-image saving.
#include "api/export_shape.h"
#include "session/still_image.h"
#include "zorbex/zorbex.h"

using zbx::api::kFailed;
using zbx::api::with_session;
using zbx::session::CZorbex;

extern "C" int Zorbex_SaveImage(ZbxHandle h, const char* file_name, int format) {
    return with_session(h, kFailed, [&](CZorbex& s) { return zbx::session::SaveImage(s, file_name, format); });
}

extern "C" int Zorbex_SaveImageW(ZbxHandle h, const char16_t* file_name, int format) {
    return with_session(h, kFailed, [&](CZorbex& s) { return zbx::session::SaveImageW(s, file_name, format); });
}
