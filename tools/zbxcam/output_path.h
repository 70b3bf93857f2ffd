// Checking that an image file can be written before taking a frame, so a
// bad path is reported plainly (the library's save says only "failed").
#pragma once

#include <string>

namespace zbxcam {

// Empty when the file can be created or overwritten, else the reason,
// e.g. "the folder out does not exist".
std::string output_path_problem(const std::string& path);

}  // namespace zbxcam
