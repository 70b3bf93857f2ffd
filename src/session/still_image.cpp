#include "session/still_image.h"

#include <cstring>

#include "output/save_image.h"
#include "pipeline/image_buffer.h"
#include "platform/text.h"
#include "session/zorbex.h"

namespace zbx::session {

StillImageStore::StillImageStore() : picture_(std::make_unique<pipeline::CImageBuffer>()) {}

StillImageStore::~StillImageStore() = default;

bool StillImageStore::take_copy(const pipeline::CImageBuffer& output) {
    if (output.empty()) return false;
    pipeline::CImageBuffer& kept = *picture_;
    if (kept.empty() || kept.width() != output.width() || kept.height() != output.height() ||
        kept.bits_per_pixel() != output.bits_per_pixel()) {
        if (kept.CreateLike(&output) == 0) return false;
    }
    std::memcpy(kept.pixels(), output.pixels(), output.store_size());
    return true;
}

namespace {

enum class FrameRule { kNeedsFrame, kAnyContents };

// Both forms after their own checks.  Error 1 for what the session lacks;
// the dispatcher's 0 (format, file, writer) posts nothing.
int save_output(CZorbex& session, const char* name, int format, FrameRule rule) {
    if (!session.has_camera()) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    if (rule == FrameRule::kNeedsFrame && session.acquisition().frame_valid.load() == 0) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    StillImageStore& store = session.still_image();
    std::lock_guard save(store.save_lock());
    {
        std::lock_guard frame(session.frame_lock());
        const pipeline::CImageBuffer* output = session.output_buffer();
        if (output == nullptr || output->empty()) {
            session.report(ERR_NOT_READY);
            return 0;
        }
        if (!store.take_copy(*output)) {
            session.report(ERR_MEMORY);
            return 0;
        }
    }
    return output::SaveImageFile(name, &store.picture(), format,
                                 output::kSensorSignificantBits);
}

}  // namespace

int SaveImage(CZorbex& session, const char* name, int format) {
    return save_output(session, name, format, FrameRule::kNeedsFrame);
}

int SaveImageW(CZorbex& session, const char16_t* name, int format) {
    if (!session.has_camera()) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    char narrow[kNarrowNameBytes] = {};
    std::size_t written = 0;
    // At most 1023 bytes with the terminator.
    if (!platform::wide_to_narrow(name, narrow, sizeof narrow, &written) ||
        written > kNarrowNameBytes - 1) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    return save_output(session, narrow, format, FrameRule::kAnyContents);
}

}  // namespace zbx::session
