#include "camera.h"

#include <algorithm>
#include <array>

namespace zbxcam {

namespace {

bool g_keep_stored_settings = false;

}  // namespace

void Camera::keep_stored_settings(bool keep) { g_keep_stored_settings = keep; }

std::unique_ptr<Camera> Camera::open(Io& io, std::string_view command, int number,
                                     bool require_present) {
    std::unique_ptr<Camera> camera(new Camera());
    camera->window_ = ZbxWin_CreateMessageWindow();
    if (!camera->window_) {
        io.err << "zbxcam " << command << ": could not create a message window\n";
        return nullptr;
    }
    camera->handle_ = Zorbex_Initialize(camera->window_);
    if (camera->handle_ == 0) {
        io.err << "zbxcam " << command << ": the library could not open a session\n";
        return nullptr;
    }
    // Initialization reports a stored readout window that does not fit (and
    // goes on with the full sensor) and memory failures (and stops).
    const std::vector<int> codes = camera->take_errors();
    if (std::find(codes.begin(), codes.end(), ZBX_ERR_MEMORY) != codes.end()) {
        print_failure(io, command, "could not open camera 0", codes, ErrorContext{});
        return nullptr;
    }
    if (std::find(codes.begin(), codes.end(), ZBX_ERR_GEOMETRY) != codes.end())
        io.err << "zbxcam " << command
               << ": warning: the stored readout window did not fit the sensor; using the full "
                  "1280 x 720\n";
    if (number != 0) {
        if (!select_device(*camera, number)) {
            const std::vector<int> select_codes = camera->take_errors();
            ErrorContext context;
            context.camera = number;
            context.camera_present = camera_present(*camera, number);
            print_failure(io, command, "could not open camera " + std::to_string(number),
                          select_codes, context);
            return nullptr;
        }
        camera->number_ = number;
    }
    // Catch an empty slot here rather than at the first call that needs
    // the camera, where the library says only "not ready".
    if (require_present && camera_present(*camera, number) == false) {
        ErrorContext context;
        context.camera = number;
        context.camera_present = false;
        const int codes[] = {ZBX_ERR_DEVICE_UNAVAILABLE};
        print_failure(io, command, "could not open camera " + std::to_string(number), codes, context);
        return nullptr;
    }
    if (g_keep_stored_settings) camera->keeper_ = std::make_unique<SettingsKeeper>(camera->handle_);
    camera->take_errors();
    return camera;
}

Camera::~Camera() {
    end_session();
    if (window_) ZbxWin_DestroyWindow(window_);
}

void Camera::end_session() {
    if (handle_ != 0 && keeper_) {
        // Nothing may move a value (automatic exposure) once it is back.
        (void)Zorbex_StopPreview(handle_);
        (void)keeper_->restore(handle_);
    }
    if (handle_ != 0) Zorbex_Release(handle_);
    handle_ = 0;
}

std::vector<int> Camera::take_errors() {
    std::vector<int> posted;
    ZbxMessage message{};
    while (window_ && ZbxWin_PeekMessage(window_, &message, 1)) {
        if (message.message == ZBX_MSG_ERROR) posted.push_back(static_cast<int>(message.lparam));
    }
    std::vector<int> recorded;
    for (int code = Zorbex_GetLastError(handle_); code != 0; code = Zorbex_GetLastError(handle_))
        recorded.push_back(code);
    if (!posted.empty()) return posted;
    std::reverse(recorded.begin(), recorded.end());
    return recorded;
}

ErrorContext Camera::context() {
    ErrorContext context;
    context.camera = number_;
    context.camera_present = camera_present(*this, number_);
    return context;
}

int Camera::fail(Io& io, std::string_view command, std::string_view action,
                 ErrorContext context_override) {
    const std::vector<int> codes = take_errors();
    // Presence is asked after collecting, so its own codes stay out.
    if (!context_override.camera_present)
        context_override.camera_present = camera_present(*this, context_override.camera);
    return print_failure(io, command, action, codes, context_override);
}

int Camera::fail(Io& io, std::string_view command, std::string_view action) {
    ErrorContext context;
    context.camera = number_;
    return fail(io, command, action, context);
}

std::optional<bool> camera_present(Camera& camera, int slot) {
    std::array<char, 256> name{};
    const int found = Zorbex_GetDeviceName(camera.handle(), slot, name.data(), static_cast<int>(name.size()));
    const std::vector<int> codes = camera.take_errors();
    if (found) return true;
    for (int code : codes)
        if (code == ZBX_ERR_DEVICE_UNAVAILABLE) return false;
    return std::nullopt;
}

bool select_device(Camera& camera, int number) {
    return Zorbex_SetDeviceNumber(camera.handle(), number) != 0;
}

}  // namespace zbxcam
