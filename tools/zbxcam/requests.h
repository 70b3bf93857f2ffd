// What snap, stream and demo were asked to do, read from their arguments
// before any camera is opened, so a wrong command line costs nothing.
#pragma once

#include <string>

#include "args.h"
#include "capture_settings.h"
#include "names.h"

namespace zbxcam {

struct SnapRequest {
    std::string path;
    const FileFormat* format = nullptr;
    CaptureSettings settings;
};

struct StreamRequest {
    double seconds = 5;  // 0: until Ctrl-C
    CaptureSettings settings;
};

struct DemoRequest {
    std::string folder = "out";
    double seconds = 3;
};

template <typename Request>
struct RequestResult {
    Request request;
    std::string error;  // a usage error
};

RequestResult<SnapRequest> snap_request_from(const ParsedArgs& args);
RequestResult<StreamRequest> stream_request_from(const ParsedArgs& args);
RequestResult<DemoRequest> demo_request_from(const ParsedArgs& args);

}  // namespace zbxcam
