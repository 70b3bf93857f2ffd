#include "session/error_text.h"

#include "session/error_codes.h"

namespace zbx::session {

namespace {

struct ErrorText {
    const char* name;
    const char* sentence;
};

ErrorText text_of(int code) {
    switch (code) {
        case ERR_NONE: return {"ERR_NONE", "no error"};
        case ERR_NOT_READY:
            return {"ERR_NOT_READY",
                    "the camera is not ready: it was not opened, it is busy with another kind of "
                    "acquisition, or there is no frame yet"};
        case ERR_DEVICE_UNAVAILABLE:
            return {"ERR_DEVICE_UNAVAILABLE",
                    "the camera is not attached, or it is in use by another process"};
        case ERR_THREAD_START:
            return {"ERR_THREAD_START", "the library could not start its acquisition thread"};
        case ERR_WINDOW: return {"ERR_WINDOW", "the library could not create its preview window"};
        case ERR_MEMORY:
            return {"ERR_MEMORY",
                    "the library could not get the memory it needs, or a buffer is too small for "
                    "the image"};
        case ERR_DEVICE_IO:
            return {"ERR_DEVICE_IO", "the camera did not answer a register read or write"};
        case ERR_GEOMETRY:
            return {"ERR_GEOMETRY",
                    "the readout window does not fit on the 1280 x 720 sensor, or is smaller than "
                    "the sensor can read out"};
        case ERR_TRANSFER: return {"ERR_TRANSFER", "a frame could not be read from the camera"};
        case ERR_PARAMETER: return {"ERR_PARAMETER", "the library refused a value as out of range"};
        case ERR_UNTRUSTED:
            return {"ERR_UNTRUSTED",
                    "the shared camera table is held by a file or folder of another user, or one "
                    "that others may open, and the library will not use it"};
        case ERR_UNSUPPORTED:
            return {"ERR_UNSUPPORTED", "this camera model does not support that operation"};
        case ERR_FILE: return {"ERR_FILE", "a file could not be created or written"};
        case ERR_FRAME_TIMEOUT:
            return {"ERR_FRAME_TIMEOUT",
                    "the camera stopped delivering frames (none for 6 seconds, or a transfer "
                    "failed)"};
        default:
            return {"ERR_UNKNOWN", "the library reported an error code it does not document"};
    }
}

}  // namespace

const char* error_name(int code) { return text_of(code).name; }
const char* error_sentence(int code) { return text_of(code).sentence; }

}  // namespace zbx::session
