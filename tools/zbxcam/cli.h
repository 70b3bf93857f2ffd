// zbxcam's command line: the commands, their help, the options every
// command takes, and dispatch.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "console.h"

namespace zbxcam {

// Runs zbxcam with the arguments after the program name.
int run(std::span<const std::string> args, Io& io);

// The help of the tool, and of one command (empty for an unknown one).
std::string tool_help();
std::string command_help(std::string_view command);

}  // namespace zbxcam
