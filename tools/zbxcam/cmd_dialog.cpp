// zbxcam dialog analog|image|camera: opens one of the library's property
// dialogs while the camera streams, and returns when it is closed.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "camera.h"
#include "commands.h"
#include "interrupt.h"

namespace zbxcam {
namespace {

bool connects(const sockaddr* address, socklen_t length) {
    const int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    bool ok = ::connect(fd, address, length) == 0;
    if (!ok && errno == EINPROGRESS) {
        // A remote display that does not answer within a second counts as gone.
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        ok = ::poll(&p, 1, 1000) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    ::close(fd);
    return ok;
}

bool unix_socket_answers(const std::string& path, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
    return connects(reinterpret_cast<const sockaddr*>(&address), length);
}

// Whether an X server answers where `name` ([host]:number[.screen]) points.
bool x_server_answers(const std::string& name) {
    const std::size_t colon = name.rfind(':');
    if (colon == std::string::npos) return false;
    std::string host = name.substr(0, colon);
    const std::string number = name.substr(colon + 1, name.find('.', colon) - colon - 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
    if (host.empty() || host == "unix" || host.ends_with("/unix")) {
        const std::string path = "/tmp/.X11-unix/X" + number;
        return unix_socket_answers(path, true) || unix_socket_answers(path, false);
    }
    const std::string port = std::to_string(6000 + std::atoi(number.c_str()));
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
    bool ok = false;
    for (addrinfo* a = found; a != nullptr && !ok; a = a->ai_next) ok = connects(a->ai_addr, a->ai_addrlen);
    ::freeaddrinfo(found);
    return ok;
}

bool wayland_answers(const std::string& name) {
    if (name.starts_with('/')) return unix_socket_answers(name, false);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && *runtime != '\0' && unix_socket_answers(std::string(runtime) + "/" + name, false);
}

// Where the library would show its dialogs, if a display server answers
// there; empty when none does.
std::string reachable_display() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0' && wayland_answers(wayland)) return wayland;
    if (x11 != nullptr && *x11 != '\0' && x_server_answers(x11)) return x11;
    return {};
}

std::string named_display() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (x11 != nullptr && *x11 != '\0') return std::string("DISPLAY=") + x11;
    if (wayland != nullptr && *wayland != '\0') return std::string("WAYLAND_DISPLAY=") + wayland;
    return {};
}

}  // namespace

int dialog_command(const CommandInput& input) {
    Io& io = input.io;
    const auto& positionals = input.args.positionals;
    if (positionals.size() != 1)
        return print_usage_error(io, "dialog", "name one dialog: analog, image or camera");
    const std::string& which = positionals[0];
    int (*open_dialog)(ZbxHandle, ZbxWindow) = nullptr;
    if (which == "analog") {
        open_dialog = Zorbex_SetAnalogDlg;
    } else if (which == "image") {
        open_dialog = Zorbex_SetImageDlg;
    } else if (which == "camera") {
        open_dialog = Zorbex_SetCameraDlg;
    } else {
        return print_usage_error(io, "dialog", "unknown dialog '" + which + "' (analog, image or camera)");
    }

    const std::unique_ptr<Camera> camera = Camera::open(io, "dialog", input.global.camera);
    if (!camera) return kExitFailure;
    const ZbxHandle h = camera->handle();
    // The camera streams while the dialog is open, so its changes show at
    // once in the preview.
    const bool streaming = Zorbex_SetPreviewWindow(h, nullptr, 0, 0, 0, 0) != 0 && Zorbex_Preview(h) != 0;
    if (!streaming) io.err << "zbxcam dialog: could not start streaming; opening the dialog anyway\n";
    camera->take_errors();
    const bool shown = !reachable_display().empty();
    if (!shown) {
        const std::string named = named_display();
        io.out << (named.empty() ? std::string("no display is named (DISPLAY, WAYLAND_DISPLAY)")
                                 : "no display answers at " + named)
               << ": no dialog can be shown\n";
    }

    // Ctrl-C or SIGTERM ends the dialog as Cancel: ending the session is
    // the one way an export offers to close a dialog from another thread,
    // and it ends the session as this command would anyway.
    std::atomic<bool> closed{false};
    std::thread watcher([&] {
        while (!closed && !interrupt_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!closed) camera->end_session();
    });
    const int opened = open_dialog(h, nullptr);
    closed = true;
    watcher.join();
    if (interrupt_requested() && camera->handle() == 0) {
        io.out << "stopped by the user: the " << which << " dialog ended as Cancel\n";
        return kExitOk;
    }
    if (opened == 0) {
        if (streaming) (void)Zorbex_StopPreview(h);
        return camera->fail(io, "dialog", "could not open the " + which + " dialog");
    }
    if (streaming) (void)Zorbex_StopPreview(h);
    if (shown) {
        io.out << "the " << which << " dialog has closed\n";
    } else {
        io.out << "no dialog could be shown: the " << which << " dialog ended at once as Cancel\n";
    }
    return kExitOk;
}

}  // namespace zbxcam
