// The subcommands.  Each takes its parsed arguments and the options common
// to all commands, and returns the exit status.
#pragma once

#include <string_view>

#include "args.h"
#include "requests.h"
#include "console.h"
#include "vcam_setup.h"

namespace zbxcam {

struct GlobalOptions {
    int camera = 0;  // device number
    bool no_save = false;  // leave the camera's stored settings as they were
    VcamOptions vcam;
};

struct CommandInput {
    Io& io;
    const GlobalOptions& global;
    const ParsedArgs& args;
};

int run_list(const CommandInput& input, bool json);
int run_info(const CommandInput& input, bool json);
int run_snap(const CommandInput& input, const SnapRequest& request);
int run_stream(const CommandInput& input, const StreamRequest& request);
int run_demo(const CommandInput& input, const DemoRequest& request);
int run_record(const CommandInput& input, const RecordRequest& request);
int run_get(const CommandInput& input, const GetRequest& request);
int run_set(const CommandInput& input, const SetRequest& request);
int run_reset(const CommandInput& input);
int run_preview(const CommandInput& input, const StreamRequest& request);
int dialog_command(const CommandInput& input);

}  // namespace zbxcam
