// zbxcam: try the Zorbex camera SDK from a terminal.
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"

int main(int argc, char** argv) {
    // A reader that goes away (zbxcam snap - | head) makes writes fail
    // instead of killing the tool before it releases the camera.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    zbxcam::Io io{std::cout, std::cerr, ::isatty(STDOUT_FILENO) != 0};
    const int status = zbxcam::run(args, io);
    std::cout.flush();
    return status;
}
