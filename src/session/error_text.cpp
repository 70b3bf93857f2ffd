#include "session/error_text.h"

#include "session/error_codes.h"
#include "zorbex/stream.h"

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
        // Frame queue results.
        case ZBX_ERR_TIMEOUT: return {"ERR_TIMEOUT", "no frame came within the time the program waited"};
        case ZBX_ERR_CANCELLED: return {"ERR_CANCELLED", "the wait for a frame was cancelled"};
        case ZBX_ERR_ENDED:
            return {"ERR_ENDED", "the camera does not stream into the frame queue and no frame is waiting"};
        case ZBX_ERR_BUSY:
            return {"ERR_BUSY", "the camera session already has a frame queue, or the queue is streaming"};
        case ZBX_ERR_BUFFER:
            return {"ERR_BUFFER", "a frame buffer is missing, misaligned, or too small for the frame format"};
        case ZBX_ERR_NOT_HELD:
            return {"ERR_NOT_HELD", "the frame is not one the program holds from this frame queue"};
        case ZBX_ERR_INVALID_HANDLE:
            return {"ERR_INVALID_HANDLE", "no such camera session or frame queue: it was released or closed"};
        default:
            return {"ERR_UNKNOWN", "the library reported an error code it does not document"};
    }
}

}  // namespace

const char* error_name(int code) { return text_of(code).name; }
const char* error_sentence(int code) { return text_of(code).sentence; }

}  // namespace zbx::session
