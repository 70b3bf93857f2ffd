// Saving the session's last picture as a still-image file.  A save holds the
// frame lock only while it copies the output buffer into a picture the
// session keeps for saving; converting, encoding and writing run after the
// lock is released, so the live stream goes on meanwhile.  The file is the
// same as if the whole save had run under the lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

namespace zbx::pipeline {
class CImageBuffer;
}

namespace zbx::session {

class CZorbex;

// Longest wide file name, converted, with its terminator.
inline constexpr std::size_t kNarrowNameBytes = 1024;

// The picture a session keeps for saving, made on the first save and
// remade only when the output format changes.
class StillImageStore {
public:
    StillImageStore();
    ~StillImageStore();
    StillImageStore(const StillImageStore&) = delete;
    StillImageStore& operator=(const StillImageStore&) = delete;

    // Serialises the saves of one session, which share the kept picture.
    std::mutex& save_lock() { return save_lock_; }
    // Copies `output` into the kept picture.  Caller holds save_lock() and
    // the session's frame lock.  False when no picture of that format can
    // be had.
    [[nodiscard]] bool take_copy(const pipeline::CImageBuffer& output);
    // Caller holds save_lock().
    [[nodiscard]] const pipeline::CImageBuffer& picture() const { return *picture_; }

private:
    std::mutex save_lock_;
    std::unique_ptr<pipeline::CImageBuffer> picture_;
};

// Session operations of Zorbex_SaveImage (a frame must have been developed
// since the stream was last closed) and Zorbex_SaveImageW (saves whatever
// the output buffer holds; the name, UTF-16, must convert to at most 1023
// bytes).  1 saved; 0 with error 1 recorded for no device link, no frame
// (narrow form), no output buffer or a bad wide name; 0 with nothing
// recorded for a format outside 0 to 6 or a file that cannot be written.
// Caller's thread.
[[nodiscard]] int SaveImage(CZorbex& session, const char* name, int format);
[[nodiscard]] int SaveImageW(CZorbex& session, const char16_t* name, int format);

}  // namespace zbx::session
