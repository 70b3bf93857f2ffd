// The modal property dialogs: analog settings, image filters and the
// camera format.
#include "api/export_shape.h"
#include "session/dialog_hosts.h"
#include "zorbex/zorbex.h"

using zbx::api::kFailed;
using zbx::api::with_session;
using zbx::session::CZorbex;
namespace ss = zbx::session;

extern "C" int Zorbex_SetAnalogDlg(ZbxHandle h, ZbxWindow owner) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_analog_dialog(s, owner); });
}

extern "C" int Zorbex_SetImageDlg(ZbxHandle h, ZbxWindow owner) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_image_dialog(s, owner); });
}

extern "C" int Zorbex_SetCameraDlg(ZbxHandle h, ZbxWindow owner) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_camera_dialog(s, owner); });
}
