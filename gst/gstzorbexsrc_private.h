// The state of a zorbexsrc element, shared by the element's methods
// (gstzorbexsrc.cpp) and its frame delivery (zorbexsrc_delivery.cpp), and
// the helpers both use to report the library's errors.
#pragma once

#include <gst/video/video.h>

#include "gstzorbexsrc.h"
#include "zorbex/zorbex.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

GST_DEBUG_CATEGORY_EXTERN(gst_zorbex_src_debug);

struct _GstZorbexSrc {
    GstPushSrc parent;

    // Properties; under the object lock.
    gint device_number;
    gint bits;
    gint exposure_us;
    gint gain;
    gboolean mirror_horizontal;
    gboolean mirror_vertical;
    gint window_x;
    gint window_y;
    gint window_width;
    gint window_height;
    gboolean trigger_mode;
    GstStructure* adjustments;
    gboolean msb_aligned;

    // The session, from start() to stop().  handle is read under the object
    // lock by property setters that act at once; the rest belongs to the
    // streaming thread.
    ZbxHandle handle;
    ZbxWindow frames;  // frame messages of the acquisition calls
    ZbxWindow notify;  // error messages of the session
    gint running_bits;
    gint running_device;
    gboolean running_trigger;
    gboolean running_msb;
    gint width;
    gint height;
    gint fps_n;
    gint fps_d;
    GstClockTime period;  // GST_CLOCK_TIME_NONE in trigger mode; under the object lock
    GstVideoInfo info;
    gboolean into_buffer;  // the library's rows land in the buffer as they are
    gboolean hand_over;    // the library copies frames into our buffers (see create_by_hand_over)
    GstBuffer* target;     // the buffer the library copies into now, mapped, or nullptr
    GstMapInfo target_map;
    guint64 canary_key;
    guint64 canary_generation;  // the canary written into target
    // Monotonic times (µs) that choose how the next buffer is handed over
    // (see create_by_hand_over); 0 until known.
    gint64 pushed_at;         // when the last buffer left create
    gint64 push_time;         // how long downstream took with it
    gint64 message_at;        // when the last frame message came
    gint64 message_interval;  // the time between the last two
    guint8* scratch;
    gsize scratch_size;
    GThread* slice_thread;  // the streaming thread that asked for a short slice
    gint flushing;         // atomic
    gboolean stale;        // frames queued before the next create are not ours
    guint64 next_offset;
    guint64 gap_before_next;  // frames dropped since the last buffer, not yet in an offset
    GstClockTime last_pts;

    // Counters; under the object lock.
    guint64 delivered;
    guint64 dropped;
    guint64 discarded;
    guint64 failed;
};

namespace zbx::gst {

// The object lock.  GLib builds GMutex on futexes, which ThreadSanitizer
// does not see, so under it the element's critical sections are announced
// to the sanitizer as well (on the element's address); otherwise the
// fields guarded by the lock would all look raced.
inline void lock_object(GstZorbexSrc* self) {
    GST_OBJECT_LOCK(self);
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(self);
#endif
}
inline void unlock_object(GstZorbexSrc* self) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(self);
#endif
    GST_OBJECT_UNLOCK(self);
}

// The first meaningful error code the library posted to the element's
// notification window since the last look, else the session's last error.
int take_error_code(GstZorbexSrc* self, ZbxHandle handle);

// Post an element message whose text is `what` followed by the library's
// sentence, code name and number, with a "zorbex-error" details structure.
void post_library_message(GstZorbexSrc* self, GstMessageType type, GstResourceError kind, int code,
                          const gchar* what);
void post_library_error(GstZorbexSrc* self, int code, const gchar* what);

}  // namespace zbx::gst
