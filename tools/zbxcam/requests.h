// What snap, stream and demo were asked to do, read from their arguments
// before any camera is opened, so a wrong command line costs nothing.
#pragma once

#include <string>
#include <vector>

#include "args.h"
#include "camera_values.h"
#include "capture_settings.h"
#include "names.h"

namespace zbxcam {

struct SnapRequest {
    std::string path;  // "-": standard output; with a series, a pattern with one %d
    const FileFormat* format = nullptr;
    CaptureSettings settings;
    int count = 1;
    double interval_s = 0;  // from the start of one frame to the start of the next
    [[nodiscard]] bool to_stdout() const { return path == "-"; }
    [[nodiscard]] bool series() const { return path.find('%') != std::string::npos; }
};

// The file name of frame `number` of a series: the pattern's one %d
// conversion (with flags and width, e.g. %04d) filled in, %% as %.
std::string series_file_name(const std::string& pattern, int number);

struct RecordRequest {
    std::string path;
    double seconds = 5;  // 0: until Ctrl-C or the frame count
    int frames = 0;      // 0: no frame count
    CaptureSettings settings;
    bool json = false;
};

struct GetRequest {
    std::vector<const CameraValue*> values;  // empty: every value
    bool json = false;
};

struct SetRequest {
    std::vector<ValueAssignment> values;
};

struct StreamRequest {
    double seconds = 5;  // 0: until Ctrl-C
    CaptureSettings settings;
    bool json = false;
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
RequestResult<RecordRequest> record_request_from(const ParsedArgs& args);
RequestResult<GetRequest> get_request_from(const ParsedArgs& args);
RequestResult<SetRequest> set_request_from(const ParsedArgs& args);

}  // namespace zbxcam
