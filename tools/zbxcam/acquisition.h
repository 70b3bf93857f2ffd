// Taking frames and saving them, and streaming with a live status line:
// the parts that snap, stream and demo share.  Needs the library's
// acquisition and saving exports.
#pragma once

#include <string>

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

// Streams for `seconds` (0: until Ctrl-C) with a live status line, then
// prints the summary.  kExitFailure when streaming could not start or the
// camera stopped delivering frames.
int stream_for(Camera& camera, Io& io, std::string_view command, double seconds, StreamStats& stats);

// "1.2 MB", "345 KB".
std::string human_size(std::uintmax_t bytes);

}  // namespace zbxcam
