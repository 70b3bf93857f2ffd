// One camera session for one command: the message window that receives the
// library's error messages, the session handle, and collecting the error
// codes a failed call left behind.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console.h"
#include "error_text.h"
#include "settings_keeper.h"
#include "zorbex/zorbex.h"

namespace zbxcam {

class Camera {
public:
    // Opens a session on device 0 and, when number is not 0, switches it to
    // that device; with require_present, refuses a slot the library finds
    // empty.  On failure
    // prints why and returns null.
    static std::unique_ptr<Camera> open(Io& io, std::string_view command, int number,
                                        bool require_present = true);

    // With keep on (--no-save), every camera opened from now on has its
    // stored values written back before its session ends, so the settings
    // file stays as it was.  Main thread.
    static void keep_stored_settings(bool keep);

    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    [[nodiscard]] ZbxHandle handle() const { return handle_; }
    // Ends the session now, as the destructor would (stored values put back
    // as asked, then released); the handle is 0 after.  May run on another
    // thread while the owning thread waits inside an export of this session.
    void end_session();
    [[nodiscard]] int number() const { return number_; }

    // Every code reported since the last call, oldest first: the error
    // messages posted to the notification window (they include the codes
    // the library posts without recording them), else the history.  The
    // history is emptied either way, so later failures start clean.
    std::vector<int> take_errors();

    // Context for error sentences; asks the library whether the camera's
    // slot holds a camera when the device exports are there.
    ErrorContext context();

    // Prints the failure of `action` with the codes collected now.
    int fail(Io& io, std::string_view command, std::string_view action,
             ErrorContext context_override);
    int fail(Io& io, std::string_view command, std::string_view action);

private:
    Camera() = default;

    ZbxWindow window_ = nullptr;
    ZbxHandle handle_ = 0;
    int number_ = 0;
    std::unique_ptr<SettingsKeeper> keeper_;
};

// Whether the library's presence table holds a camera in the slot; empty
// when this build cannot ask.  Leaves no error codes behind.
std::optional<bool> camera_present(Camera& camera, int slot);
// Switches the session to another device number; false on failure (the
// codes are left for the caller to collect).
bool select_device(Camera& camera, int number);

}  // namespace zbxcam
