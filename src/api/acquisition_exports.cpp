// Snapshots, capture mode, streaming and trigger mode.
#include "api/export_shape.h"
#include "session/acquisition.h"
#include "zorbex/zorbex.h"

using zbx::api::kFailed;
using zbx::api::with_session;
using zbx::session::CZorbex;

extern "C" int Zorbex_SnapShot(ZbxHandle h, void* buffer, int length, int copy_flag) {
    return with_session(h, kFailed, [&](CZorbex& s) { return s.acquisition_control().snapshot(buffer, length, copy_flag); });
}

extern "C" int Zorbex_Capture(ZbxHandle h) {
    return with_session(h, kFailed, [](CZorbex& s) { return s.acquisition_control().capture(); });
}

extern "C" int Zorbex_StartPreview(ZbxHandle h) {
    return with_session(h, kFailed, [](CZorbex& s) { return s.acquisition_control().start(); });
}

extern "C" int Zorbex_StopPreview(ZbxHandle h) {
    return with_session(h, kFailed, [](CZorbex& s) { return s.acquisition_control().stop(); });
}

extern "C" int Zorbex_Trigger(ZbxHandle h, ZbxWindow callback_window, void* buffer, int length, int copy_flag) {
    return with_session(h, kFailed, [&](CZorbex& s) {
        return s.acquisition_control().trigger(callback_window, buffer, length, copy_flag);
    });
}
