#include "zorbexsrc_delivery.h"

#include <gst/video/video.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "gstzorbexsrc_private.h"
#include "zorbex/zorbex.h"
#include "zorbex_format.h"

#define GST_CAT_DEFAULT gst_zorbex_src_debug

namespace zbx::gst {
namespace {

// Scheduler slice the streaming thread asks for (see ask_for_short_slice).
constexpr std::uint64_t kStreamingSliceNs = 100'000;

// The streaming thread does a few microseconds of work per frame, but must
// take its buffer back, push it and hand over the next before the library
// copies the next frame: on an unpaced camera that is less than the default
// slice (1.4 ms here) for which a busy thread may keep the processor.  A short
// slice lets it run at once when the frame message wakes it; its share of
// processor time is unchanged.  Kernels without per-thread slices, or a thread
// an application gave another policy, keep what they have.  Streaming thread.
void ask_for_short_slice() {
    // The kernel's sched_attr in its first, 48-byte layout; the C library
    // here declares neither it nor the calls.
    struct {
        std::uint32_t size;
        std::uint32_t sched_policy;
        std::uint64_t sched_flags;
        std::int32_t sched_nice;
        std::uint32_t sched_priority;
        std::uint64_t sched_runtime;
        std::uint64_t sched_deadline;
        std::uint64_t sched_period;
    } attr{};
    static_assert(sizeof attr == 48);
    attr.size = sizeof attr;
    if (::syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0 || attr.sched_policy != SCHED_OTHER) return;
    attr.sched_runtime = kStreamingSliceNs;
    attr.sched_flags = 0;
    if (::syscall(SYS_sched_setattr, 0, &attr, 0) != 0) GST_DEBUG("the scheduler keeps the streaming thread's slice");
}

// How long one wait for a frame message lasts before the streaming thread
// looks at its flushing flag again (the library reports missing frames
// itself, after 6 s).
constexpr std::uint32_t kWaitSliceMs = 1000;

GstClockTime running_time_now(GstZorbexSrc* self) {
    GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
    if (clock == nullptr) return GST_CLOCK_TIME_NONE;
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(self));
    return now > base ? now - base : 0;
}

// Waits for the next frame message.  GST_FLOW_OK with the message in *m,
// GST_FLOW_FLUSHING when unlocked, GST_FLOW_ERROR after posting the error.
GstFlowReturn wait_frame(GstZorbexSrc* self, ZbxMessage* m) {
    for (;;) {
        if (g_atomic_int_get(&self->flushing) != 0) return GST_FLOW_FLUSHING;
        if (ZbxWin_WaitMessage(self->frames, m, kWaitSliceMs) == 0) continue;
        if (m->message != ZBX_MSG_FRAME) continue;
        if (m->wparam != 0) return GST_FLOW_OK;
        const int code = static_cast<int>(m->lparam);
        (void)take_error_code(self, self->handle);
        if (code == ZBX_ERR_FRAME_TIMEOUT) {
            // The library's acquisition thread has ended: no frame for 6 s,
            // or the camera stopped answering (unplugged).
            post_library_error(self, code, "The camera stopped delivering frames");
            return GST_FLOW_ERROR;
        }
        // One frame the library could not read or copy; streaming goes on.
        lock_object(self);
        ++self->failed;
        unlock_object(self);
        post_library_message(self, GST_MESSAGE_WARNING, GST_RESOURCE_ERROR_READ, code, "A frame was lost");
    }
}

// Takes the frame messages queued behind the one just taken: their
// pictures are gone (the library keeps only the newest).  Returns how many.
guint64 skip_queued_frames(GstZorbexSrc* self) {
    guint64 skipped = 0;
    ZbxMessage next{};
    while (ZbxWin_PeekMessage(self->frames, &next, 0) != 0 && next.message == ZBX_MSG_FRAME && next.wparam != 0) {
        (void)ZbxWin_PeekMessage(self->frames, &next, 1);
        ++skipped;
    }
    return skipped;
}

GstFlowReturn copy_picture(GstZorbexSrc* self, GstBuffer* buffer) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) return GST_FLOW_ERROR;
    const int bits = self->running_bits;
    const std::size_t library_stride = zbx::gst::library_stride(self->width, bits);
    const gsize stride = static_cast<gsize>(GST_VIDEO_INFO_PLANE_STRIDE(&self->info, 0));
    guint8* source = self->into_buffer ? map.data : self->scratch;
    const gsize length = self->into_buffer ? map.size : self->scratch_size;
    const int copied = Zorbex_GetImage(self->handle, source, static_cast<int>(std::min<gsize>(length, G_MAXINT)), 1);
    if (copied != 0 && !(self->into_buffer && zbx::gst::row_is_final(bits, self->running_msb))) {
        for (int y = 0; y < self->height; ++y) {
            zbx::gst::finish_row(source + y * library_stride, map.data + y * stride, self->width, bits,
                                 self->running_msb);
        }
    }
    gst_buffer_unmap(buffer, &map);
    if (copied == 0) {
        post_library_error(self, take_error_code(self, self->handle), "Could not copy a frame");
        return GST_FLOW_ERROR;
    }
    return GST_FLOW_OK;
}

// Numbers, timestamps and counts a frame that leaves the element;
// `skipped` frames before it were not taken.
void stamp_buffer(GstZorbexSrc* self, GstBuffer* buffer, GstClockTime arrival, guint64 skipped) {
    // Frames already counted as dropped since the last buffer also leave
    // their numbers out.
    const guint64 gap = skipped + self->gap_before_next;
    self->gap_before_next = 0;
    const guint64 offset = self->next_offset + gap;
    self->next_offset = offset + 1;
    GstClockTime pts = arrival;
    if (GST_CLOCK_TIME_IS_VALID(pts)) {
        if (GST_CLOCK_TIME_IS_VALID(self->period)) pts = pts > self->period ? pts - self->period : 0;
        if (GST_CLOCK_TIME_IS_VALID(self->last_pts) && pts <= self->last_pts) pts = self->last_pts + 1;
        self->last_pts = pts;
    }
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) = self->period;
    GST_BUFFER_OFFSET(buffer) = offset;
    GST_BUFFER_OFFSET_END(buffer) = offset + 1;

    lock_object(self);
    ++self->delivered;
    self->dropped += skipped;
    const guint64 delivered = self->delivered;
    const guint64 dropped = self->dropped;
    unlock_object(self);
    if (gap != 0) {
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        GST_DEBUG_OBJECT(self, "%" G_GUINT64_FORMAT " frames dropped before frame %" G_GUINT64_FORMAT, gap,
                         offset);
        GstMessage* qos = gst_message_new_qos(GST_OBJECT(self), TRUE, pts, GST_CLOCK_TIME_NONE, pts, self->period);
        gst_message_set_qos_stats(qos, GST_FORMAT_BUFFERS, delivered, dropped);
        (void)gst_element_post_message(GST_ELEMENT(self), qos);
    }
}

// Frames queued behind the one just taken, and those from before the
// pipeline played (not taken, not dropped: counted as discarded).
guint64 frames_not_taken(GstZorbexSrc* self) {
    guint64 skipped = skip_queued_frames(self);
    if (self->stale) {
        self->stale = FALSE;
        lock_object(self);
        self->discarded += skipped;
        unlock_object(self);
        skipped = 0;
    }
    return skipped;
}

// The copy path: Zorbex_GetImage per frame message.
GstFlowReturn create_by_copy(GstZorbexSrc* self, GstBuffer** out) {
    ZbxMessage m{};
    GstFlowReturn ret = wait_frame(self, &m);
    if (ret != GST_FLOW_OK) return ret;
    const GstClockTime arrival = running_time_now(self);
    const guint64 skipped = frames_not_taken(self);
    GstBuffer* buffer = nullptr;
    ret = GST_BASE_SRC_GET_CLASS(self)->alloc(GST_BASE_SRC(self), self->next_offset + skipped,
                                              GST_VIDEO_INFO_SIZE(&self->info), &buffer);
    if (ret != GST_FLOW_OK) return ret;
    ret = copy_picture(self, buffer);
    if (ret != GST_FLOW_OK) {
        gst_buffer_unref(buffer);
        return ret;
    }
    stamp_buffer(self, buffer, arrival, skipped);
    *out = buffer;
    return GST_FLOW_OK;
}

// The hand-over path.  The library copies each developed frame into the
// caller buffer it was given (Zorbex_CallBackPreview while streaming); once
// that call returns with another buffer, or none, it never writes the
// previous one again.  So when a frame message arrives the element takes
// the buffer back at once (the call waits for a copy under way) and pushes
// it: the library's copy is the only one.  Which buffer the library gets
// meanwhile depends on how long downstream keeps the streaming thread:
// - Quickly back (fakesink, a queue): none until the next frame is asked
//   for, after the push.  By then a sink has let go of the buffer before
//   the one pushed (a sink keeps the last one), the pool gives that one
//   back, and two buffers take turns, warm in the caches, where handing
//   over before the push would need three.  The library is without a
//   buffer only at the start of developing its next frame; a frame
//   finished in that gap has its message but no picture and is counted as
//   dropped.
// - Slowly back (conversion or encoding in this thread): a fresh buffer at
//   once, so that frames finished during the push are not lost.
// A canary at the end of each buffer (overwritten by any frame, the image
// filling the buffer exactly) tells whether a frame reached the buffer at
// all.
void write_canary(GstZorbexSrc* self, guint8* data, gsize size, guint64 generation) {
    const guint64 canary[2] = {self->canary_key, generation};
    std::memcpy(data + size - sizeof canary, canary, sizeof canary);
}

bool canary_intact(const GstZorbexSrc* self, const guint8* data, gsize size, guint64 generation) {
    const guint64 canary[2] = {self->canary_key, generation};
    return std::memcmp(data + size - sizeof canary, canary, sizeof canary) == 0;
}

// Hands the library a pool buffer, mapped and marked with a new generation,
// as its target; the previous target, if any, is then the caller's.
GstFlowReturn hand_over_new_target(GstZorbexSrc* self) {
    GstBuffer* buffer = nullptr;
    const GstFlowReturn ret = GST_BASE_SRC_GET_CLASS(self)->alloc(GST_BASE_SRC(self), self->next_offset,
                                                                  GST_VIDEO_INFO_SIZE(&self->info), &buffer);
    if (ret != GST_FLOW_OK) return ret;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        gst_buffer_unref(buffer);
        return GST_FLOW_ERROR;
    }
    const guint64 generation = self->canary_generation + 1;
    write_canary(self, map.data, map.size, generation);
    if (Zorbex_CallBackPreview(self->handle, self->frames, map.data, static_cast<int>(map.size), 1) == 0) {
        gst_buffer_unmap(buffer, &map);
        gst_buffer_unref(buffer);
        post_library_error(self, take_error_code(self, self->handle), "Could not hand the camera a buffer");
        return GST_FLOW_ERROR;
    }
    self->target = buffer;
    self->target_map = map;
    self->canary_generation = generation;
    return GST_FLOW_OK;
}

// When the library has no buffer: frame messages that came meanwhile carry
// no picture (dropped, or discarded from before the pipeline played), then
// a new target.
GstFlowReturn give_target(GstZorbexSrc* self) {
    if (self->target != nullptr) return GST_FLOW_OK;
    const guint64 lost = frames_not_taken(self);
    if (lost != 0) {
        lock_object(self);
        self->dropped += lost;
        unlock_object(self);
        self->gap_before_next += lost;
    }
    return hand_over_new_target(self);
}

// True when downstream gave the streaming thread back within half the time
// between frame messages: taking the buffer back without a new one then
// costs no frame.
bool downstream_is_quick(const GstZorbexSrc* self) {
    return self->message_interval > 0 && self->push_time * 2 < self->message_interval;
}

GstFlowReturn create_by_hand_over(GstZorbexSrc* self, GstBuffer** out) {
    if (self->pushed_at != 0) self->push_time = g_get_monotonic_time() - self->pushed_at;
    for (;;) {
        GstFlowReturn ret = give_target(self);
        if (ret != GST_FLOW_OK) return ret;
        ZbxMessage m{};
        ret = wait_frame(self, &m);
        if (ret != GST_FLOW_OK) return ret;
        const gint64 message_at = g_get_monotonic_time();
        if (self->message_at != 0) self->message_interval = message_at - self->message_at;
        self->message_at = message_at;

        GstBuffer* filled = self->target;
        GstMapInfo filled_map = self->target_map;
        const guint64 filled_generation = self->canary_generation;
        self->target = nullptr;
        if (downstream_is_quick(self)) {
            if (Zorbex_CallBackPreview(self->handle, self->frames, nullptr, 0, 1) == 0) {
                self->target = filled;  // still the library's
                post_library_error(self, take_error_code(self, self->handle),
                                   "Could not take a buffer back from the camera");
                return GST_FLOW_ERROR;
            }
        } else if ((ret = hand_over_new_target(self)) != GST_FLOW_OK) {
            self->target = filled;  // still the library's
            return ret;
        }
        const GstClockTime arrival = running_time_now(self);
        const guint64 skipped = frames_not_taken(self);
        if (canary_intact(self, filled_map.data, filled_map.size, filled_generation)) {
            // This message's frame was finished before the buffer was
            // handed over: no picture for it.
            gst_buffer_unmap(filled, &filled_map);
            gst_buffer_unref(filled);
            lock_object(self);
            self->dropped += skipped + 1;
            unlock_object(self);
            self->gap_before_next += skipped + 1;
            continue;
        }
        if (!zbx::gst::row_is_final(self->running_bits, self->running_msb)) {
            const gsize stride = static_cast<gsize>(GST_VIDEO_INFO_PLANE_STRIDE(&self->info, 0));
            for (int y = 0; y < self->height; ++y) {
                guint8* row = filled_map.data + y * stride;
                zbx::gst::finish_row(row, row, self->width, self->running_bits, self->running_msb);
            }
        }
        gst_buffer_unmap(filled, &filled_map);
        stamp_buffer(self, filled, arrival, skipped);
        *out = filled;
        self->pushed_at = g_get_monotonic_time();
        return GST_FLOW_OK;
    }
}

}  // namespace

void release_target(GstZorbexSrc* self) {
    if (self->target == nullptr) return;
    gst_buffer_unmap(self->target, &self->target_map);
    gst_buffer_unref(self->target);
    self->target = nullptr;
}

GstFlowReturn deliver_frame(GstZorbexSrc* self, GstBuffer** out) {
    if (self->slice_thread != g_thread_self()) {
        ask_for_short_slice();
        self->slice_thread = g_thread_self();
    }
    return self->hand_over ? create_by_hand_over(self, out) : create_by_copy(self, out);
}

}  // namespace zbx::gst
