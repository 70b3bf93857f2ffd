// The state of a zorbexsrc element, shared by the element's methods
// (gstzorbexsrc.cpp) and its frame delivery (zorbexsrc_delivery.cpp), and
// the helpers both use to report the library's errors.
#pragma once

#include <gst/video/video.h>

#include "gstzorbexsrc.h"
#include "zorbex/stream.h"
#include "zorbex/zorbex.h"

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

    gboolean save_settings;
    // Which mirror properties were set: unset ones keep the camera's values.
    gboolean mirror_horizontal_set;
    gboolean mirror_vertical_set;

    // The session, from start() to stop().  handle, stream and pool are
    // swapped under the object lock (property setters and unlock() read
    // them from other threads); the rest belongs to the streaming thread.
    ZbxHandle handle;
    ZbxWindow notify;     // error messages of the session
    ZbxStream* stream;    // the frame queue, or nullptr
    GstBufferPool* pool;  // the pool whose buffers are lent to `stream`, or nullptr
    gint running_bits;
    gint running_device;
    gboolean running_trigger;
    gboolean running_msb;
    gint sensor_width;  // of the selected camera
    gint sensor_height;
    gint running_x;  // the capture window's corner
    gint running_y;
    gint fixed_width;  // window size the properties fix, 0 where caps choose
    gint fixed_height;
    gboolean caps_error_posted;  // a negotiation failure was explained already
    ZbxFrameFormat format;  // of the queue's frames
    gboolean camera_running;  // the queue was started
    // Geometry and rate offered in caps; under the object lock.
    gint width;
    gint height;
    gint fps_n;
    gint fps_d;
    GstClockTime period;  // GST_CLOCK_TIME_NONE in trigger mode
    gint exposure_lines;  // of the last frame, to notice a new frame period
    GstVideoInfo info;
    gint stale;                 // atomic: frames captured before the next create are not part of the stream
    guint64 discard_before_ns;  // CLOCK_MONOTONIC capture times before this are discarded
    gboolean after_discard;     // drops before the next frame taken were not in the stream either
    guint64 offset_base;        // offset of frame number 1 of the camera's current run
    guint64 next_offset;        // one past the last offset pushed
    GstClockTime last_pts;
    // The pipeline clock as last mapped (see frame_pts).
    GstClock* clock;
    gboolean clock_is_monotonic;

    // Camera values the element changed, with what they were, to be put
    // back at stop unless save_settings; under saved_lock.
    GMutex saved_lock;
    GArray* saved;  // of zbx::gst::SavedValue

    // Counters; under the object lock.
    guint64 delivered;
    guint64 dropped;
    guint64 discarded;
    guint64 failed;
};

namespace zbx::gst {

// One camera value the element changed: a filter value id, or one of the
// mirror ids below, with the value it had before.
struct SavedValue {
    int id;
    int value;
};
inline constexpr int kMirrorHorizontalId = -1;
inline constexpr int kMirrorVerticalId = -2;

// The first meaningful error code the library posted to the element's
// notification window since the last look, else the session's last error.
int take_error_code(GstZorbexSrc* self, ZbxHandle handle);

// Post an element message whose text is `what` followed by the library's
// sentence, code name and number, with a "zorbex-error" details structure.
void post_library_message(GstZorbexSrc* self, GstMessageType type, GstResourceError kind, int code,
                          const gchar* what);
void post_library_error(GstZorbexSrc* self, int code, const gchar* what);

// The cause of a failed start: the code posted before the generic one.
int start_failure(GstZorbexSrc* self, int code);

// Starts the camera into the frame queue (see deliver_frame).  Streaming
// thread.  Posts the error itself.
bool start_camera(GstZorbexSrc* self);

// Reads the frame period for the current settings into the rate fields
// (0/1 in trigger mode); true when the rate changed.  Streaming thread.
bool read_frame_rate(GstZorbexSrc* self);

}  // namespace zbx::gst
