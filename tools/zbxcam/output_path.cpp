#include "output_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zbxcam {

std::string output_path_problem(const std::string& path) {
    if (path.empty()) return "the file name is empty";
    if (path.back() == '/') return path + " names a folder, not a file";
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        if (errno == ENOENT) return "the folder " + folder + " does not exist";
        return "the folder " + folder + " cannot be reached: " + std::strerror(errno);
    }
    if (!S_ISDIR(info.st_mode)) return folder + " is not a folder";
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return path + " is a folder";
        if (::access(path.c_str(), W_OK) != 0) return path + " exists and cannot be overwritten: " + std::strerror(errno);
        return {};
    }
    if (::access(folder.c_str(), W_OK) != 0)
        return "the folder " + folder + " cannot be written to: " + std::strerror(errno);
    return {};
}

}  // namespace zbxcam
