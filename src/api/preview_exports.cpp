// The preview window, Close and the capture (sensor readout) window.
#include "api/export_shape.h"
#include "session/preview.h"
#include "zorbex/zorbex.h"

using zbx::api::kFailed;
using zbx::api::with_session;
using zbx::session::CZorbex;

extern "C" int Zorbex_SetPreviewWindow(ZbxHandle h, ZbxWindow parent, int x, int y, int width, int height) {
    return with_session(h, kFailed, [&](CZorbex& s) { return s.preview_window().set_preview_window(parent, x, y, width, height); });
}

extern "C" int Zorbex_Preview(ZbxHandle h) {
    return with_session(h, kFailed, [](CZorbex& s) { return s.preview_window().preview(); });
}

extern "C" int Zorbex_CallBackPreview(ZbxHandle h, ZbxWindow callback_window, void* buffer, int length,
                                      int copy_flag) {
    return with_session(h, kFailed, [&](CZorbex& s) {
        return s.preview_window().callback_preview(callback_window, buffer, length, copy_flag);
    });
}

extern "C" int Zorbex_Close(ZbxHandle h) {
    return with_session(h, kFailed, [](CZorbex& s) { return s.preview_window().close_all(); });
}

extern "C" int Zorbex_SetCaptureWindow(ZbxHandle h, int width, int height) {
    return with_session(h, kFailed, [&](CZorbex& s) { return s.preview_window().set_capture_window(width, height); });
}

extern "C" int Zorbex_SetCaptureWindowEx(ZbxHandle h, int total_width, int h_start, int width, int total_height,
                                         int v_start, int height) {
    return with_session(h, kFailed, [&](CZorbex& s) {
        return s.preview_window().set_capture_window_ex(total_width, h_start, width, total_height, v_start, height);
    });
}

extern "C" int Zorbex_GetCaptureWindowEx(ZbxHandle h, int* total_width, int* h_start, int* width, int* total_height,
                                         int* v_start, int* height) {
    return with_session(h, kFailed, [&](CZorbex& s) {
        return s.preview_window().get_capture_window_ex(total_width, h_start, width, total_height, v_start, height);
    });
}
