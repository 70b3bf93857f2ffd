#include "support/x11_display.h"

#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#ifdef ZBX_HAVE_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

namespace zbx::test {

bool PrivateXServer::start() {
#ifndef ZBX_HAVE_X11
    why_ = "built without X11";
    return false;
#else
    if (access("/usr/bin/Xvfb", X_OK) != 0) {
        why_ = "Xvfb is not installed (scripts/install-deps installs xvfb)";
        return false;
    }
    // A number of our own: free socket and lock, derived from the pid.
    // A new number for each start, so that a restarted server is not taken
    // for the one before it.
    static int starts = 0;
    ++starts;
    int number = 0;
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int candidate = 200 + (static_cast<int>(getpid()) * 13 + (starts + attempt) * 7) % 3000;
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(candidate);
        const std::string lock = "/tmp/.X" + std::to_string(candidate) + "-lock";
        if (access(socket.c_str(), F_OK) != 0 && access(lock.c_str(), F_OK) != 0) {
            number = candidate;
            break;
        }
    }
    if (number == 0) {
        why_ = "no free display number";
        return false;
    }
    name_ = ":" + std::to_string(number);
    number_ = number;
    pid_ = fork();
    if (pid_ < 0) {
        why_ = "fork failed";
        return false;
    }
    if (pid_ == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        // -noreset: the server must not restart when our probe connection ends.
        execl("/usr/bin/Xvfb", "Xvfb", name_.c_str(), "-screen", "0", "1920x1080x24", "-nolisten", "tcp", "-noreset",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            why_ = "Xvfb ended at start";
            return false;
        }
        if (access(socket.c_str(), F_OK) == 0) {
            // The socket exists before the server accepts: wait for a connection.
            if (Display* d = XOpenDisplay(name_.c_str()); d != nullptr) {
                XCloseDisplay(d);
                setenv("DISPLAY", name_.c_str(), 1);
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    why_ = "Xvfb did not come up";
    stop(true);
    return false;
#endif
}

void PrivateXServer::stop(bool hard) {
    if (pid_ <= 0) return;
    kill(pid_, hard ? SIGKILL : SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    // A killed server leaves its socket and lock behind.
    unlink(("/tmp/.X11-unix/X" + std::to_string(number_)).c_str());
    unlink(("/tmp/.X" + std::to_string(number_) + "-lock").c_str());
    unsetenv("DISPLAY");
}

bool save_png(const std::string& path, const std::vector<std::uint8_t>& bgr, int width, int height) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = info != nullptr && setjmp(png_jmpbuf(png)) == 0;
    if (ok) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_bgr(png);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y)
            png_write_row(png, bgr.data() + static_cast<std::size_t>(y) * width * 3);
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return ok;
}

#ifdef ZBX_HAVE_X11
namespace {
// One connection per call keeps the helpers free of shared state.
struct Connection {
    Display* d = XOpenDisplay(nullptr);
    ~Connection() {
        if (d != nullptr) XCloseDisplay(d);
    }
};
int quiet_errors(Display*, XErrorEvent*) { return 0; }
}  // namespace

std::vector<std::uint8_t> screenshot(unsigned long xid, int x, int y, int width, int height) {
    Connection c;
    if (c.d == nullptr) return {};
    XSync(c.d, False);
    auto previous = XSetErrorHandler(quiet_errors);
    XImage* image = XGetImage(c.d, xid, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    XSetErrorHandler(previous);
    if (image == nullptr) return {};
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col) {
            const unsigned long p = XGetPixel(image, col, row);
            std::uint8_t* out = pixels.data() + (static_cast<std::size_t>(row) * width + col) * 3;
            out[0] = static_cast<std::uint8_t>(p & 0xFF);
            out[1] = static_cast<std::uint8_t>((p >> 8) & 0xFF);
            out[2] = static_cast<std::uint8_t>((p >> 16) & 0xFF);
        }
    XDestroyImage(image);
    return pixels;
}

unsigned long create_x_window(int x, int y, int width, int height) {
    Connection c;
    if (c.d == nullptr) return 0;
    const Window w = XCreateSimpleWindow(c.d, DefaultRootWindow(c.d), x, y, static_cast<unsigned>(width),
                                         static_cast<unsigned>(height), 0, 0, 0x336699);
    XMapWindow(c.d, w);
    // The window outlives this connection.
    XSetCloseDownMode(c.d, RetainPermanent);
    XSync(c.d, False);
    return w;
}

bool destroy_x_window(unsigned long xid) {
    Connection c;
    if (c.d == nullptr || xid == 0) return false;
    XDestroyWindow(c.d, xid);
    XSync(c.d, False);
    return true;
}

bool resize_x_window(unsigned long xid, int width, int height) {
    Connection c;
    if (c.d == nullptr || xid == 0) return false;
    XResizeWindow(c.d, xid, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(c.d, False);
    return true;
}

bool send_wm_delete(unsigned long xid) {
    Connection c;
    if (c.d == nullptr || xid == 0) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = xid;
    event.xclient.message_type = XInternAtom(c.d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(c.d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(c.d, xid, False, NoEventMask, &event);
    XSync(c.d, False);
    return sent != 0;
}

std::string x_window_title(unsigned long xid) {
    Connection c;
    if (c.d == nullptr || xid == 0) return {};
    char* name = nullptr;
    std::string title;
    if (XFetchName(c.d, xid, &name) != 0 && name != nullptr) title = name;
    if (name != nullptr) XFree(name);
    return title;
}

bool x_window_mapped(unsigned long xid) {
    Connection c;
    if (c.d == nullptr || xid == 0) return false;
    XWindowAttributes a{};
    return XGetWindowAttributes(c.d, xid, &a) != 0 && a.map_state == IsViewable;
}
#else
std::vector<std::uint8_t> screenshot(unsigned long, int, int, int, int) { return {}; }
unsigned long create_x_window(int, int, int, int) { return 0; }
bool destroy_x_window(unsigned long) { return false; }
bool resize_x_window(unsigned long, int, int) { return false; }
bool send_wm_delete(unsigned long) { return false; }
std::string x_window_title(unsigned long) { return {}; }
bool x_window_mapped(unsigned long) { return false; }
#endif

}  // namespace zbx::test
