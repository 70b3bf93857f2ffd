// A private X server for tests of the on-screen preview: Xvfb on a display
// number of this process's own, waited for by its socket and ended by its
// pid; and screenshots taken with Xlib.  Without Xvfb (or without X11 in
// the build) start() fails and the tests skip.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zbx::test {

class PrivateXServer {
public:
    PrivateXServer() = default;
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;
    ~PrivateXServer() { stop(); }

    // Starts the server and sets DISPLAY to it; false with a reason in why().
    bool start();
    // Ends the server (SIGKILL when `hard`), waits for it and unsets DISPLAY.
    void stop(bool hard = false);
    [[nodiscard]] const std::string& why() const { return why_; }
    [[nodiscard]] const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    int number_ = 0;
    std::string name_;
    std::string why_;
};

// Pixels of an X window's area, top row first, blue-green-red, packed.
// Empty when the window cannot be read.
std::vector<std::uint8_t> screenshot(unsigned long xid, int x, int y, int width, int height);
// Saves packed blue-green-red pixels as an RGB PNG; false on failure.
bool save_png(const std::string& path, const std::vector<std::uint8_t>& bgr, int width, int height);

// For tests that play the application or the window manager (Xlib on a
// connection of the test's own).  0 / false when that fails.
unsigned long create_x_window(int x, int y, int width, int height);
bool destroy_x_window(unsigned long xid);
bool resize_x_window(unsigned long xid, int width, int height);
bool send_wm_delete(unsigned long xid);
std::string x_window_title(unsigned long xid);
bool x_window_mapped(unsigned long xid);

}  // namespace zbx::test
