// Frame delivery of zorbexsrc: each create() takes the frame queue's next
// frame in the pool buffer that holds it and stamps it.
//
// - PTS: the frame's capture time (CLOCK_MONOTONIC when its transfer
//   completed) on the pipeline clock, as running time.
// - Offsets: the library's frame numbers, counted from 0 across the
//   camera's restarts; a gap is frames lost, marked DISCONT, posted as
//   QoS and counted in the stats.
// - Frames captured before the pipeline played (or while it was paused)
//   are not part of the stream: they are given back unpushed and counted
//   as discarded, and so are the frames the queue lost meanwhile.
// - A new exposure that changes the frame period renegotiates the
//   framerate, changes the durations and posts a latency message.
#include "zorbexsrc_delivery.h"

#include <gst/video/video.h>
#include <time.h>

#include "gstzorbexsrc_private.h"
#include "zorbex/stream.h"
#include "zorbex/zorbex.h"
#include "zorbex_format.h"
#include "zorbexsrc_pool.h"

#define GST_CAT_DEFAULT gst_zorbex_src_debug

namespace zbx::gst {
namespace {

guint64 monotonic_ns() {
    timespec ts{};
    (void)clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<guint64>(ts.tv_sec) * GST_SECOND + static_cast<guint64>(ts.tv_nsec);
}

// The running time of a capture time.  The system clock in its monotonic
// type is CLOCK_MONOTONIC itself; any other pipeline clock is read beside
// CLOCK_MONOTONIC and the frame's age carried over.
GstClockTime frame_pts(GstZorbexSrc* self, guint64 captured_ns) {
    GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
    if (clock == nullptr) return GST_CLOCK_TIME_NONE;
    if (clock != self->clock) {
        gst_object_replace(reinterpret_cast<GstObject**>(&self->clock), GST_OBJECT(clock));
        GstClockType type = GST_CLOCK_TYPE_REALTIME;
        if (GST_IS_SYSTEM_CLOCK(clock)) g_object_get(clock, "clock-type", &type, nullptr);
        self->clock_is_monotonic = GST_IS_SYSTEM_CLOCK(clock) && type == GST_CLOCK_TYPE_MONOTONIC;
    }
    GstClockTime at = captured_ns;
    if (!self->clock_is_monotonic) {
        const GstClockTime now = gst_clock_get_time(clock);
        const guint64 mono = monotonic_ns();
        const guint64 age = mono > captured_ns ? mono - captured_ns : 0;
        at = now > age ? now - age : 0;
    }
    gst_object_unref(clock);
    const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(self));
    return at > base ? at - base : 0;
}

// Puts the new frame rate into the caps and tells the pipeline its latency
// changed.  Streaming thread, before the frame's buffer is pushed.
void announce_frame_rate(GstZorbexSrc* self) {
    GstCaps* current = gst_pad_get_current_caps(GST_BASE_SRC_PAD(self));
    if (current == nullptr) return;
    GstCaps* caps = gst_caps_make_writable(current);
    GST_OBJECT_LOCK(self);
    const gint n = self->fps_n;
    const gint d = self->fps_d;
    GST_OBJECT_UNLOCK(self);
    gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, n, d, nullptr);
    GST_INFO_OBJECT(self, "new frame rate %d/%d", n, d);
    if (!gst_base_src_set_caps(GST_BASE_SRC(self), caps))
        GST_WARNING_OBJECT(self, "downstream refused the frame rate %d/%d", n, d);
    gst_caps_unref(caps);
    (void)gst_element_post_message(GST_ELEMENT(self), gst_message_new_latency(GST_OBJECT(self)));
}

void stamp_buffer(GstZorbexSrc* self, GstBuffer* buffer, const ZbxFrame* frame, guint64 dropped) {
    const guint64 offset = self->offset_base + frame->sequence - 1;
    self->next_offset = offset + 1;
    GstClockTime pts = frame_pts(self, frame->timestamp_ns);
    if (GST_CLOCK_TIME_IS_VALID(pts)) {
        if (GST_CLOCK_TIME_IS_VALID(self->last_pts) && pts <= self->last_pts) pts = self->last_pts + 1;
        self->last_pts = pts;
    }
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) = self->period;
    GST_BUFFER_OFFSET(buffer) = offset;
    GST_BUFFER_OFFSET_END(buffer) = offset + 1;

    GST_OBJECT_LOCK(self);
    ++self->delivered;
    self->dropped += dropped;
    const guint64 delivered = self->delivered;
    const guint64 total_dropped = self->dropped;
    GST_OBJECT_UNLOCK(self);
    if (dropped != 0) {
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        GST_DEBUG_OBJECT(self, "%" G_GUINT64_FORMAT " frames lost before frame %" G_GUINT64_FORMAT, dropped, offset);
        GstMessage* qos = gst_message_new_qos(GST_OBJECT(self), TRUE, pts, GST_CLOCK_TIME_NONE, pts, self->period);
        gst_message_set_qos_stats(qos, GST_FORMAT_BUFFERS, delivered, total_dropped);
        (void)gst_element_post_message(GST_ELEMENT(self), qos);
    }
}

// Counts what the loop below passes over; under the object lock.
void count(GstZorbexSrc* self, guint64 GstZorbexSrc::*counter, guint64 n) {
    GST_OBJECT_LOCK(self);
    self->*counter += n;
    GST_OBJECT_UNLOCK(self);
}

}  // namespace

GstFlowReturn deliver_frame(GstZorbexSrc* self, GstBuffer** out) {
    if (self->pool == nullptr) return GST_FLOW_NOT_NEGOTIATED;
    if (!self->camera_running && !start_camera(self)) return GST_FLOW_ERROR;
    if (g_atomic_int_compare_and_exchange(&self->stale, TRUE, FALSE)) {
        self->discard_before_ns = monotonic_ns();
        self->after_discard = TRUE;
    }
    guint64 carried = 0;  // frames lost before a frame that failed
    for (;;) {
        GstBuffer* buffer = nullptr;
        const GstFlowReturn ret = gst_buffer_pool_acquire_buffer(self->pool, &buffer, nullptr);
        if (ret == GST_FLOW_ERROR) {
            const int code = queue_pool_error(self->pool);
            post_library_error(self, code,
                               code == ZBX_ERR_FRAME_TIMEOUT ? "The camera stopped delivering frames"
                                                             : "Could not take a frame from the camera");
            return GST_FLOW_ERROR;
        }
        if (ret != GST_FLOW_OK) return ret;
        const ZbxFrame* frame = queue_pool_last_frame(self->pool);
        if (frame->timestamp_ns < self->discard_before_ns) {
            count(self, &GstZorbexSrc::discarded, 1 + frame->dropped);
            self->after_discard = TRUE;
            gst_buffer_unref(buffer);
            continue;
        }
        guint64 dropped = frame->dropped + carried;
        if (self->after_discard) {
            // Lost while the pipeline was not playing: not the stream's.
            count(self, &GstZorbexSrc::discarded, dropped);
            dropped = 0;
            self->after_discard = FALSE;
        }
        if (frame->status != ZBX_OK) {
            count(self, &GstZorbexSrc::failed, 1);
            carried = dropped;
            post_library_message(self, GST_MESSAGE_WARNING, GST_RESOURCE_ERROR_READ, frame->status, "A frame was lost");
            gst_buffer_unref(buffer);
            continue;
        }
        if (!row_is_final(self->running_bits, self->running_msb)) {
            GstMapInfo map;
            if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
                gst_buffer_unref(buffer);
                return GST_FLOW_ERROR;
            }
            finish_frame_in_place(map.data, frame->width, frame->height, static_cast<std::size_t>(frame->stride),
                                  static_cast<std::size_t>(GST_VIDEO_INFO_PLANE_STRIDE(&self->info, 0)),
                                  self->running_bits, self->running_msb);
            gst_buffer_unmap(buffer, &map);
        }
        if (frame->exposure_lines != self->exposure_lines) {
            self->exposure_lines = frame->exposure_lines;
            if (read_frame_rate(self)) announce_frame_rate(self);
        }
        stamp_buffer(self, buffer, frame, dropped);
        *out = buffer;
        return GST_FLOW_OK;
    }
}

}  // namespace zbx::gst
