#include "error_text.h"

#include "zorbex/errors.h"
#include "zorbex/zorbex.h"

namespace zbxcam {

std::string error_name(int code) {
    if (code == ZBX_ERR_NONE) return "no error";
    const std::string name = ZbxError_Name(code);
    return name == "ERR_UNKNOWN" ? "error " + std::to_string(code) : name;
}

std::string error_sentence(int code, const ErrorContext& context) {
    const std::string camera = "camera " + std::to_string(context.camera);
    switch (code) {
        case ZBX_ERR_NONE: return "the operation failed without giving a reason";
        case ZBX_ERR_NOT_READY:
            return camera + " is not ready: it was not opened, it is busy with another kind of "
                            "acquisition, or there is no frame yet";
        case ZBX_ERR_DEVICE_UNAVAILABLE:
            if (!context.camera_present.has_value())
                return camera + " is not attached, or it is in use by another process";
            if (!*context.camera_present) return camera + " is not attached";
            return camera + " is in use by another process";
        case ZBX_ERR_DEVICE_IO: return camera + " did not answer a register read or write";
        case ZBX_ERR_TRANSFER: return "a frame could not be read from " + camera;
        case ZBX_ERR_PARAMETER: {
            std::string text = "the library refused ";
            text += context.value.empty() ? "a value as out of range" : context.value;
            if (!context.range.empty()) text += " (it accepts " + context.range + ")";
            return text;
        }
        case ZBX_ERR_FILE:
            return context.file.empty() ? "a file could not be created"
                                        : "the file " + context.file + " could not be created";
        case ZBX_ERR_FRAME_TIMEOUT:
            return camera + " stopped delivering frames (none for 6 seconds, or a transfer failed)";
        default: return ZbxError_Describe(code);
    }
}

std::string describe_error(int code, const ErrorContext& context) {
    return error_name(code) + " (" + std::to_string(code) + "): " + error_sentence(code, context);
}

std::optional<int> root_cause(std::span<const int> codes_oldest_first) {
    for (int code : codes_oldest_first)
        if (code != ZBX_ERR_NONE) return code;
    return std::nullopt;
}

}  // namespace zbxcam
