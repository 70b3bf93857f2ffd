#include "session/image_copy.h"

#include <cstring>
#include <mutex>

#include "pipeline/image_buffer.h"
#include "platform/window.h"
#include "session/zorbex.h"

namespace zbx::session {

namespace {
// Frame message; with an error code as lParam it reports a failed delivery.
constexpr std::uint32_t kFrameMessage = 0x8002;
}  // namespace

int copy_image(CZorbex& session, const pipeline::CImageBuffer& image, int copy_flag, void* destination,
               std::int64_t length) {
    const std::size_t stride = static_cast<std::size_t>(image.stride());
    const std::size_t rows = static_cast<std::size_t>(image.height());
    if (destination == nullptr || length < 0 || rows * stride > static_cast<std::uint64_t>(length)) {
        // Recorded first, so an application reacting to the message finds the code.
        session.report(ERR_MEMORY);
        if (const ZbxWindow callback = session.capture_target().callback_window.load())
            (void)platform::post_message(callback, kFrameMessage, 0, ERR_MEMORY);
        return 0;
    }
    auto* out = static_cast<std::uint8_t*>(destination);
    const std::uint8_t* in = image.pixels();
    if (copy_flag != 0) {
        std::memcpy(out, in, rows * stride);
    } else {
        for (std::size_t r = 0; r < rows; ++r) std::memcpy(out + r * stride, in + (rows - 1 - r) * stride, stride);
    }
    return 1;
}

int get_image(CZorbex& session, void* destination, int length, int copy_flag) {
    if (!session.has_camera()) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    std::lock_guard lock(session.frame_lock());
    const pipeline::CImageBuffer* image = session.output_buffer();
    if (image == nullptr) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    if (image->empty() || destination == nullptr) {
        session.report(ERR_MEMORY);
        return 0;
    }
    if (copy_image(session, *image, copy_flag, destination, length) == 0) {
        session.report(ERR_MEMORY);
        return 0;
    }
    return 1;
}

}  // namespace zbx::session
