// The preview window of a session: a child window inside an application
// window or a centred top-level window, painted by the acquisition thread
// after each developed frame; the exports that start streaming with it,
// Close, and the capture-window (sensor readout window) exports.
#pragma once

#include <cstdint>

#include "zorbex/window.h"

namespace zbx::session {

class CZorbex;

// Titles, styles and the child identifier of the preview windows.
inline constexpr char kChildTitle[] = "ActiveMovie Window";
inline constexpr char kTopLevelTitle[] = "Active Window";
inline constexpr std::uint32_t kChildStyle = 0x52000000;     // child, visible, clip siblings
inline constexpr std::uint32_t kTopLevelStyle = 0x16CF0000;  // overlapped, visible, clip siblings and children
inline constexpr std::intptr_t kChildId = 6540;

class PreviewWindow {
public:
    explicit PreviewWindow(CZorbex& session) : session_(session) {}
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    // `Zorbex_SetPreviewWindow`: parent and rectangle (left, top, width,
    // height) of the window the next start creates.
    int set_preview_window(ZbxWindow parent, int x, int y, int width, int height);
    // `Zorbex_Preview` and `Zorbex_CallBackPreview`.
    int preview();
    int callback_preview(ZbxWindow callback_window, void* buffer, int length, int copy_flag);
    // `Zorbex_Close`: the window, then everything that runs.  Returns 1.
    int close_all();

    // A window is made when a parent is set or the rectangle is not all 0.
    [[nodiscard]] bool configured() const;
    // Registers a class of a unique name and creates the window with its
    // device context, or keeps the one already open; false (nothing left
    // behind) when any step fails.  Application thread, control lock held.
    [[nodiscard]] bool open();
    // Releases the device context, destroys the window, unregisters the class.
    void close();

    // Draws the current image into the window; nothing when there is no
    // window, it is hidden or a side is 0.  Acquisition thread, frame lock held.
    void paint(std::int32_t color_mode);

    // The sensor readout window.
    int set_capture_window_ex(int total_width, int h_start, int width, int total_height, int v_start, int height);
    int set_capture_window(int width, int height);
    int get_capture_window_ex(int* total_width, int* h_start, int* width, int* total_height, int* v_start,
                              int* height);

private:
    int start_with_window();
    // Programs the sensor with the stored window unless an acquisition
    // thread reads frames now; the next start's apply programs it then.
    void program_sensor_window();

    CZorbex& session_;
};

}  // namespace zbx::session
