// Taking frames and saving them, and streaming with a live status line:
// the parts that snap, stream and demo share.  Needs the library's
// acquisition and saving exports.
#pragma once

#include <chrono>
#include <string>

#include "zorbex/stream.h"
#include "zorbex/window.h"

#include "camera.h"
#include "console.h"
#include "names.h"
#include "status_line.h"

namespace zbxcam {

// "cannot write PATH: ERR_FILE (12): ... (why)"; returns kExitFailure.
int print_unwritable(Io& io, std::string_view command, const std::string& path, std::string_view why);

// One frame from the camera into the library's image; prints the failure.
int take_frame(Camera& camera, Io& io, std::string_view command);

// Saves the library's current image; checks the path first so a bad one
// is reported plainly.  Prints the failure.
int save_frame(Camera& camera, Io& io, std::string_view command, const std::string& path,
               const FileFormat& format);

// Streams through a frame queue for `seconds` (0: until Ctrl-C) with a
// live status line, then prints the summary.  kExitFailure when streaming
// could not start, the camera stopped delivering frames, or the library
// recorded an error during the run.
int stream_for(Camera& camera, Io& io, std::string_view command, double seconds, StreamStats& stats);

// Counts one message of a stream into `stats`: a frame (size, bits and the
// library's rate, or the rate counted since `start` until the library has
// one) or a failure code.  True when the failure means the camera stopped
// delivering frames.
bool count_stream_message(const ZbxMessage& message, StreamStats& stats,
                          std::chrono::steady_clock::time_point start);

// "1.2 MB", "345 KB".
std::string human_size(std::uintmax_t bytes);

}  // namespace zbxcam
