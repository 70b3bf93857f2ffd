// zorbexsrc: a live source element for the Zorbex 530RD-NQT camera.
//
// How frames arrive.  The element starts the library's callback streaming
// (Zorbex_CallBackPreview, or Zorbex_Trigger in trigger mode) with a message
// window of its own: the library's acquisition thread develops each frame,
// copies it into the caller buffer under its frame lock and posts one frame
// message per frame.  The streaming thread of this element waits on that
// window.  The library copies each frame into a pool buffer handed to it
// as caller buffer; per message the element takes that buffer back and
// pushes it, and hands over the next one when the next frame is asked for
// (create_by_hand_over): the library's own copy is the only copy, so the
// element keeps the camera's rate.  Where the picture needs converting (48-bit)
// and in trigger mode it copies the developed picture with Zorbex_GetImage
// instead, also under the frame lock, so a picture is never torn
// (create_by_copy).  Waiting on the message queue rather than polling snapshots
// (each of which would start a single-frame read) is what keeps every frame at
// camera rate.  The library keeps only the newest developed picture: when
// several frame messages are waiting, the older frames can no longer be taken;
// they are counted as dropped (stats property, QoS message, DISCONT flag) and
// their numbers are skipped in the buffer offsets, never hidden.
//
// Frame numbers: buffer offsets count the frame messages of the stream,
// from 0 at the first frame taken while playing.  Timestamps: running time
// of the pipeline clock when the frame message arrives, less one frame
// period (the frame was read out during that period); latency is one period.

#include "gstzorbexsrc.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <numeric>

#include "zorbex/errors.h"
#include "zorbex/vcam.h"
#include "zorbex/zorbex.h"
#include "gstzorbexsrc_private.h"
#include "zorbex_format.h"
#include "zorbexsrc_delivery.h"

GST_DEBUG_CATEGORY(gst_zorbex_src_debug);
#define GST_CAT_DEFAULT gst_zorbex_src_debug

namespace {

constexpr int kSensorWidth = 1280;
constexpr int kSensorHeight = 720;
// Posted by unlock() to this element's own frame window to wake the
// streaming thread at once; the library never posts it.
constexpr std::uint32_t kWakeMessage = 0x0400;
// The frame time: max(exposure lines, window rows + 32 blanking lines)
// lines of (register 46 + 6) clocks at the 100 MHz readout clock.
constexpr int kBlankingLines = 32;
constexpr std::int64_t kClockHz = 100000000;

constexpr int kDefaultDevice = 0;
constexpr int kDefaultBits = 24;
constexpr int kDefaultExposure = 0;  // keep the camera's exposure
constexpr int kDefaultGain = -1;     // keep the camera's gain
constexpr int kMaxExposureUs = 1000000;
constexpr int kMaxGain = 11;

enum {
    PROP_0,
    PROP_DEVICE_NUMBER,
    PROP_COLOR_MODE,
    PROP_EXPOSURE,
    PROP_GAIN,
    PROP_MIRROR_HORIZONTAL,
    PROP_MIRROR_VERTICAL,
    PROP_WINDOW_X,
    PROP_WINDOW_Y,
    PROP_WINDOW_WIDTH,
    PROP_WINDOW_HEIGHT,
    PROP_TRIGGER_MODE,
    PROP_ADJUSTMENTS,
    PROP_MSB_ALIGNED,
    PROP_STATS,
};

struct Adjustment {
    const char* name;
    int id;
};

// Names of the adjustments property, one per filter value id.
constexpr Adjustment kAdjustments[] = {
    {"brightness", ZBX_ID_BRIGHTNESS},
    {"contrast", ZBX_ID_CONTRAST},
    {"hue", ZBX_ID_HUE},
    {"saturation", ZBX_ID_SATURATION},
    {"sharpness", ZBX_ID_SHARPNESS},
    {"bayer-gain-rgb", ZBX_ID_BAYER_GAIN_RGB},
    {"bayer-gain-red", ZBX_ID_BAYER_GAIN_RED},
    {"bayer-gain-green", ZBX_ID_BAYER_GAIN_GREEN},
    {"bayer-gain-blue", ZBX_ID_BAYER_GAIN_BLUE},
    {"bayer-gain-auto", ZBX_ID_BAYER_GAIN_AUTO},
    {"gamma", ZBX_ID_GAMMA},
    {"bayer-mode", ZBX_ID_BAYER_MODE},
    {"global-gain", ZBX_ID_GLOBAL_GAIN},
    {"color-gain-red", ZBX_ID_COLOR_GAIN_RED},
    {"color-gain-green1", ZBX_ID_COLOR_GAIN_GREEN1},
    {"color-gain-green2", ZBX_ID_COLOR_GAIN_GREEN2},
    {"color-gain-blue", ZBX_ID_COLOR_GAIN_BLUE},
    {"exposure-time", ZBX_ID_EXPOSURE_TIME},
    {"gray-mode", ZBX_ID_GRAY_MODE},
    {"gray-gain-r", ZBX_ID_GRAY_GAIN_R},
    {"gray-gain-g1", ZBX_ID_GRAY_GAIN_G1},
    {"gray-gain-g2", ZBX_ID_GRAY_GAIN_G2},
    {"gray-gain-b", ZBX_ID_GRAY_GAIN_B},
    {"gray-offset-r", ZBX_ID_GRAY_OFFSET_R},
    {"gray-offset-g1", ZBX_ID_GRAY_OFFSET_G1},
    {"gray-offset-g2", ZBX_ID_GRAY_OFFSET_G2},
    {"gray-offset-b", ZBX_ID_GRAY_OFFSET_B},
};

int adjustment_id(const char* name) {
    for (const Adjustment& a : kAdjustments)
        if (std::strcmp(a.name, name) == 0) return a.id;
    return 0;
}

GType colour_mode_get_type() {
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        static const GEnumValue values[] = {
            {8, "Monochrome 8-bit (GRAY8)", "mono8"},
            {16, "Monochrome, 12-bit samples in 16 bits (GRAY16_LE)", "mono16"},
            {24, "Colour 24-bit (BGR)", "bgr"},
            {32, "Colour 32-bit (BGRx)", "bgrx"},
            {48, "Colour 48-bit, delivered as BGRA64_LE with opaque alpha", "bgr48"},
            {64, "Colour 64-bit (BGRA64_LE, opaque alpha)", "bgra64"},
            {0, nullptr, nullptr},
        };
        g_once_init_leave(&type, g_enum_register_static("GstZorbexColorMode", values));
    }
    return type;
}

GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format = (string) { GRAY8, GRAY16_LE, BGR, BGRx, BGRA64_LE }, "
                    "width = (int) [ 1, 1280 ], height = (int) [ 1, 720 ], "
                    "framerate = (fraction) [ 0/1, MAX ], pixel-aspect-ratio = (fraction) 1/1"));

}  // namespace


G_DEFINE_TYPE(GstZorbexSrc, gst_zorbex_src, GST_TYPE_PUSH_SRC);
GST_ELEMENT_REGISTER_DEFINE(zorbexsrc, "zorbexsrc", GST_RANK_NONE, GST_TYPE_ZORBEX_SRC);

namespace zbx::gst {

// The first meaningful error code the library posted to the notification
// window since the last look: the cause, rather than the "not ready" that
// a failed start adds on top of it.  Falls back on the session's last error.
int take_error_code(GstZorbexSrc* self, ZbxHandle handle) {
    int cause = 0;
    int generic = 0;
    ZbxMessage m{};
    while (self->notify != nullptr && ZbxWin_PeekMessage(self->notify, &m, 1) != 0) {
        if (m.message != ZBX_MSG_ERROR || m.lparam == 0) continue;
        const int code = static_cast<int>(m.lparam);
        if (code == ZBX_ERR_NOT_READY) {
            if (generic == 0) generic = code;
        } else if (cause == 0) {
            cause = code;
        }
    }
    if (cause != 0) return cause;
    if (generic != 0) return generic;
    return handle != 0 ? Zorbex_GetLastError(handle) : 0;
}

// Posts an error or warning message whose text carries the library's
// sentence, code name and number; the details structure "zorbex-error"
// carries the number ("code") and name ("name") for applications.
void post_library_message(GstZorbexSrc* self, GstMessageType type, GstResourceError kind, int code,
                          const gchar* what) {
    gchar* text =
        g_strdup_printf("%s: %s (%s, code %d)", what, ZbxError_Describe(code), ZbxError_Name(code), code);
    GstStructure* details = gst_structure_new("zorbex-error", "code", G_TYPE_INT, code, "name",
                                              G_TYPE_STRING, ZbxError_Name(code), nullptr);
    gst_element_message_full_with_details(GST_ELEMENT(self), type, GST_RESOURCE_ERROR, kind, text, nullptr,
                                          __FILE__, GST_FUNCTION, __LINE__, details);
}

void post_library_error(GstZorbexSrc* self, int code, const gchar* what) {
    GstResourceError kind = GST_RESOURCE_ERROR_FAILED;
    if (code == ZBX_ERR_DEVICE_UNAVAILABLE) kind = GST_RESOURCE_ERROR_BUSY;
    if (code == ZBX_ERR_FRAME_TIMEOUT || code == ZBX_ERR_TRANSFER) kind = GST_RESOURCE_ERROR_READ;
    if (code == ZBX_ERR_PARAMETER || code == ZBX_ERR_GEOMETRY) kind = GST_RESOURCE_ERROR_SETTINGS;
    post_library_message(self, GST_MESSAGE_ERROR, kind, code, what);
}

}  // namespace zbx::gst

using zbx::gst::post_library_error;
using zbx::gst::post_library_message;
using zbx::gst::release_target;
using zbx::gst::take_error_code;
using zbx::gst::lock_object;
using zbx::gst::unlock_object;

namespace {

void drain(ZbxWindow window) {
    ZbxMessage m{};
    while (window != nullptr && ZbxWin_PeekMessage(window, &m, 1) != 0) {
    }
}

// Sets every field of `adjustments` as a filter value.  Caller thread: the
// streaming thread at start, or the application's thread for a change
// while running.  False (and a message) at the first one refused.
bool apply_adjustments(GstZorbexSrc* self, ZbxHandle handle, const GstStructure* adjustments,
                       GstMessageType type) {
    if (adjustments == nullptr) return true;
    const gint n = gst_structure_n_fields(adjustments);
    for (gint i = 0; i < n; ++i) {
        const gchar* name = gst_structure_nth_field_name(adjustments, i);
        const int id = adjustment_id(name);
        gint value = 0;
        if (id == 0 || !gst_structure_get_int(adjustments, name, &value)) {
            gchar* what = g_strdup_printf("Adjustment \"%s\" is unknown or not an integer", name);
            post_library_message(self, type, GST_RESOURCE_ERROR_SETTINGS, ZBX_ERR_PARAMETER, what);
            g_free(what);
            return false;
        }
        if (Zorbex_SetFilterValue(handle, id, value) == 0) {
            gchar* what = g_strdup_printf("Adjustment %s=%d was refused", name, value);
            post_library_message(self, type, GST_RESOURCE_ERROR_SETTINGS, take_error_code(self, handle), what);
            g_free(what);
            return false;
        }
    }
    return true;
}

// The frame period from the sensor's registers as the last settings apply
// left them.  Streaming thread.
void read_frame_rate(GstZorbexSrc* self) {
    int ok_rows = 0;
    int ok_exposure = 0;
    int ok_line = 0;
    const int rows = Zorbex_ReadRegister(self->handle, 5, &ok_rows);
    const int exposure = Zorbex_ReadRegister(self->handle, 15, &ok_exposure);
    const int line = Zorbex_ReadRegister(self->handle, 46, &ok_line);
    std::int64_t clocks = 0;
    if (ok_rows != 0 && ok_exposure != 0 && ok_line != 0)
        clocks = static_cast<std::int64_t>(std::max(exposure, rows + kBlankingLines)) * (line + 6);
    if (clocks <= 0) {
        // Registers unreadable: the camera's power-on rate.
        clocks = static_cast<std::int64_t>(kSensorHeight + kBlankingLines) * 2950;
    }
    const std::int64_t divisor = std::gcd(kClockHz, clocks);
    self->fps_n = static_cast<gint>(kClockHz / divisor);
    self->fps_d = static_cast<gint>(clocks / divisor);
    const GstClockTime period = gst_util_uint64_scale(static_cast<guint64>(clocks), GST_SECOND, kClockHz);
    // Latency queries read it on other threads.
    lock_object(self);
    self->period = period;
    unlock_object(self);
}

// Sets the colour mode and starts streaming or trigger mode.  Streaming
// thread (start and set_caps).  Posts the error itself.
bool start_acquisition(GstZorbexSrc* self, int bits) {
    const ZbxHandle h = self->handle;
    if (Zorbex_SetColorMode(h, bits) == 0) {
        post_library_error(self, take_error_code(self, h), "Could not select the colour mode");
        return false;
    }
    drain(self->frames);
    const int started = self->running_trigger ? Zorbex_Trigger(h, self->frames, nullptr, 0, 1)
                                              : Zorbex_CallBackPreview(h, self->frames, nullptr, 0, 1);
    if (started == 0) {
        gchar* what = g_strdup_printf("Could not start camera %d", self->running_device);
        post_library_error(self, take_error_code(self, h), what);
        g_free(what);
        return false;
    }
    self->running_bits = bits;
    self->width = Zorbex_Width(h);
    self->height = Zorbex_Height(h);
    if (self->running_trigger) {
        self->fps_n = 0;
        self->fps_d = 1;
        lock_object(self);
        self->period = GST_CLOCK_TIME_NONE;
        unlock_object(self);
    } else {
        read_frame_rate(self);
    }
    self->stale = TRUE;
    GST_INFO_OBJECT(self, "camera %d streaming %dx%d, %d bits, %d/%d fps", self->running_device, self->width,
                    self->height, bits, self->fps_n, self->fps_d);
    return true;
}

void close_session(GstZorbexSrc* self) {
    lock_object(self);
    const ZbxHandle h = self->handle;
    self->handle = 0;
    unlock_object(self);
    if (h != 0) {
        (void)Zorbex_Close(h);
        (void)Zorbex_Release(h);
    }
    release_target(self);  // the library has stopped writing it
    if (self->frames != nullptr) (void)ZbxWin_DestroyWindow(self->frames);
    if (self->notify != nullptr) (void)ZbxWin_DestroyWindow(self->notify);
    self->frames = nullptr;
    self->notify = nullptr;
    g_free(self->scratch);
    self->scratch = nullptr;
    self->scratch_size = 0;
}

GstStructure* make_stats(GstZorbexSrc* self) {
    return gst_structure_new("zorbexsrc-stats", "delivered", G_TYPE_UINT64, self->delivered, "dropped",
                             G_TYPE_UINT64, self->dropped, "discarded", G_TYPE_UINT64, self->discarded,
                             "failed", G_TYPE_UINT64, self->failed, nullptr);
}

// ---- GstBaseSrc / GstPushSrc methods --------------------------------------

gboolean zorbex_start(GstBaseSrc* src) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    lock_object(self);
    const int device = self->device_number;
    const int bits = self->bits;
    const int exposure = self->exposure_us;
    const int gain = self->gain;
    const gboolean mirror_h = self->mirror_horizontal;
    const gboolean mirror_v = self->mirror_vertical;
    const int x = self->window_x;
    const int y = self->window_y;
    const int width = self->window_width != 0 ? self->window_width : kSensorWidth - x;
    const int height = self->window_height != 0 ? self->window_height : kSensorHeight - y;
    GstStructure* adjustments = self->adjustments != nullptr ? gst_structure_copy(self->adjustments) : nullptr;
    self->running_device = device;
    self->running_trigger = self->trigger_mode;
    self->running_msb = self->msb_aligned;
    self->delivered = self->dropped = self->discarded = self->failed = 0;
    unlock_object(self);

    self->next_offset = 0;
    self->gap_before_next = 0;
    self->last_pts = GST_CLOCK_TIME_NONE;
    self->pushed_at = self->push_time = self->message_at = self->message_interval = 0;
    self->canary_key = (static_cast<guint64>(g_random_int()) << 32) | g_random_int();
    self->notify = ZbxWin_CreateMessageWindow();
    self->frames = ZbxWin_CreateMessageWindow();
    bool ok = self->notify != nullptr && self->frames != nullptr;
    ZbxHandle h = 0;
    if (!ok) {
        post_library_error(self, ZBX_ERR_WINDOW, "Could not create the message windows");
    } else if ((h = Zorbex_Initialize(self->notify)) == 0) {
        const int code = take_error_code(self, 0);
        post_library_error(self, code != 0 ? code : ZBX_ERR_MEMORY, "Could not open a camera session");
        ok = false;
    }
    if (ok) {
        lock_object(self);
        self->handle = h;
        unlock_object(self);
        // No preview window: frames go to GStreamer only.
        (void)Zorbex_SetPreviewWindow(h, nullptr, 0, 0, 0, 0);
        // No pause between frames: the library waits for the camera anyway.
        (void)Zorbex_SetWaitTime(h, 0);
        gchar* what = nullptr;
        if (Zorbex_SetDeviceNumber(h, device) == 0) {
            what = g_strdup_printf("Could not select camera %d", device);
        } else if (Zorbex_SetCaptureWindowEx(h, kSensorWidth, x, width, kSensorHeight, y, height) == 0) {
            what = g_strdup_printf("Capture window %dx%d at (%d, %d) does not fit the 1280x720 sensor", width,
                                   height, x, y);
        } else if (Zorbex_SetMirrorH(h, mirror_h) == 0 || Zorbex_SetMirrorV(h, mirror_v) == 0) {
            what = g_strdup("Could not set the mirrors");
        } else if (gain >= 0 && Zorbex_SetGlobalGain(h, gain) == 0) {
            what = g_strdup_printf("Gain %d was refused", gain);
        } else if (exposure > 0 && Zorbex_SetRealExposureTime(h, exposure) == 0) {
            what = g_strdup_printf("Exposure %d us was refused", exposure);
        }
        if (what != nullptr) {
            post_library_error(self, take_error_code(self, h), what);
            g_free(what);
            ok = false;
        }
    }
    if (ok) ok = apply_adjustments(self, h, adjustments, GST_MESSAGE_ERROR);
    if (adjustments != nullptr) gst_structure_free(adjustments);
    if (ok) ok = start_acquisition(self, bits);
    if (!ok) close_session(self);
    return ok ? TRUE : FALSE;
}

gboolean zorbex_stop(GstBaseSrc* src) {
    close_session(GST_ZORBEX_SRC(src));
    return TRUE;
}

GstCaps* zorbex_get_caps(GstBaseSrc* src, GstCaps* filter) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    lock_object(self);
    const bool open = self->handle != 0;
    unlock_object(self);
    GstCaps* caps = nullptr;
    if (!open) {
        caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(src));
    } else {
        // Every mode at the running geometry and rate; the running mode
        // first so that it wins when downstream takes anything.
        caps = gst_caps_new_empty();
        int order[7] = {self->running_bits};
        std::copy(std::begin(zbx::gst::kColourModeBits), std::end(zbx::gst::kColourModeBits), order + 1);
        for (int bits : order) {
            const GstVideoFormat format = zbx::gst::format_of_mode(bits);
            caps = gst_caps_merge_structure(
                caps, gst_structure_new("video/x-raw", "format", G_TYPE_STRING, gst_video_format_to_string(format),
                                        "width", G_TYPE_INT, self->width, "height", G_TYPE_INT, self->height,
                                        "framerate", GST_TYPE_FRACTION, self->fps_n, self->fps_d,
                                        "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
        }
    }
    if (filter != nullptr) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

// Downstream's order decides among the formats it takes equally (a
// converter lists them all); the configured colour mode wins when it is
// among them.
GstCaps* zorbex_fixate(GstBaseSrc* src, GstCaps* caps) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    const gchar* running = gst_video_format_to_string(zbx::gst::format_of_mode(self->running_bits));
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        GstStructure* s = gst_caps_get_structure(caps, i);
        const gchar* format = gst_structure_get_string(s, "format");
        if (format != nullptr && std::strcmp(format, running) == 0) {
            GstCaps* preferred = gst_caps_copy_nth(caps, i);
            gst_caps_unref(caps);
            caps = preferred;
            break;
        }
    }
    return GST_BASE_SRC_CLASS(gst_zorbex_src_parent_class)->fixate(src, caps);
}

gboolean zorbex_set_caps(GstBaseSrc* src, GstCaps* caps) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) return FALSE;
    // New caps, new buffers: take the old one back from the library first,
    // then let it go.
    if (self->target != nullptr) (void)Zorbex_CallBackPreview(self->handle, self->frames, nullptr, 0, 1);
    release_target(self);
    const int bits = zbx::gst::mode_of_format(GST_VIDEO_INFO_FORMAT(&info), self->running_bits);
    if (bits == 0 || GST_VIDEO_INFO_WIDTH(&info) != self->width || GST_VIDEO_INFO_HEIGHT(&info) != self->height) {
        GST_WARNING_OBJECT(self, "caps %" GST_PTR_FORMAT " do not match the camera", caps);
        return FALSE;
    }
    if (bits != self->running_bits) {
        // Downstream asked for another mode: restart in it.
        GST_INFO_OBJECT(self, "switching from %d to %d bits for downstream", self->running_bits, bits);
        (void)Zorbex_Close(self->handle);
        release_target(self);
        if (!start_acquisition(self, bits)) return FALSE;
    }
    self->info = info;
    const std::size_t library_stride = zbx::gst::library_stride(self->width, bits);
    self->into_buffer = bits != 48 && library_stride == static_cast<std::size_t>(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0));
    // Trigger mode keeps the copy path: its buffers are few and Zorbex_Trigger
    // is not to be called again while it runs.
    self->hand_over = self->into_buffer && !self->running_trigger &&
                      library_stride * static_cast<gsize>(self->height) == GST_VIDEO_INFO_SIZE(&info);
    if (!self->into_buffer) {
        const gsize size = library_stride * static_cast<gsize>(self->height);
        if (size > self->scratch_size) {
            g_free(self->scratch);
            self->scratch = static_cast<guint8*>(g_malloc(size));
            self->scratch_size = size;
        }
    }
    return TRUE;
}

// Buffers come from a pool of our own with the negotiated layout, reused
// frame after frame (no allocation per frame).  A pool offered downstream
// is not taken: the library writes rows at the negotiated strides only.
gboolean zorbex_decide_allocation(GstBaseSrc* src, GstQuery* query) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    GstCaps* caps = nullptr;
    gst_query_parse_allocation(query, &caps, nullptr);
    guint min = 2;
    guint max = 0;
    if (gst_query_get_n_allocation_pools(query) > 0) {
        GstBufferPool* offered = nullptr;
        guint size = 0;
        gst_query_parse_nth_allocation_pool(query, 0, &offered, &size, &min, &max);
        if (offered != nullptr) gst_object_unref(offered);
        min = std::max(min, 2u);
        if (max != 0) max = std::max(max, min);
    }
    GstBufferPool* pool = gst_video_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    const guint size = static_cast<guint>(GST_VIDEO_INFO_SIZE(&self->info));
    gst_buffer_pool_config_set_params(config, caps, size, min, max);
    (void)gst_buffer_pool_set_config(pool, config);
    if (gst_query_get_n_allocation_pools(query) > 0)
        gst_query_set_nth_allocation_pool(query, 0, pool, size, min, max);
    else
        gst_query_add_allocation_pool(query, pool, size, min, max);
    gst_object_unref(pool);
    return GST_BASE_SRC_CLASS(gst_zorbex_src_parent_class)->decide_allocation(src, query);
}

gboolean zorbex_query(GstBaseSrc* src, GstQuery* query) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
        // The period is written by start() and set_caps on other threads.
        lock_object(self);
        const bool open = self->handle != 0;
        const GstClockTime period = self->period;
        unlock_object(self);
        if (!open) return FALSE;
        // A frame is complete one period after its read-out began; the
        // library keeps no older picture, so at most that is buffered.
        // In trigger mode frames come when triggered.
        const GstClockTime min = GST_CLOCK_TIME_IS_VALID(period) ? period : 0;
        gst_query_set_latency(query, TRUE, min, GST_CLOCK_TIME_IS_VALID(period) ? period : GST_CLOCK_TIME_NONE);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(gst_zorbex_src_parent_class)->query(src, query);
}

gboolean zorbex_unlock(GstBaseSrc* src) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    g_atomic_int_set(&self->flushing, 1);
    if (self->frames != nullptr) (void)ZbxWin_PostMessage(self->frames, kWakeMessage, 0, 0);
    return TRUE;
}

gboolean zorbex_unlock_stop(GstBaseSrc* src) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    g_atomic_int_set(&self->flushing, 0);
    // Frames that arrive while the pipeline is not playing are not part
    // of the stream.
    self->stale = TRUE;
    return TRUE;
}

GstFlowReturn zorbex_create(GstPushSrc* push, GstBuffer** out) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(push);
    return zbx::gst::deliver_frame(self, out);
}

gboolean software_trigger(GstZorbexSrc* self) {
    lock_object(self);
    const bool armed = self->handle != 0 && self->running_trigger;
    const int slot = self->running_device;
    unlock_object(self);
    if (!armed) {
        GST_WARNING_OBJECT(self, "software-trigger ignored: not running in trigger mode");
        return FALSE;
    }
    return ZbxVcam_FireTrigger(slot) == ZBX_VCAM_OK ? TRUE : FALSE;
}

// ---- GObject ---------------------------------------------------------------

void zorbex_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(object);
    lock_object(self);
    const ZbxHandle h = self->handle;
    GstStructure* adjustments = nullptr;
    switch (id) {
    case PROP_DEVICE_NUMBER: self->device_number = g_value_get_int(value); break;
    case PROP_COLOR_MODE: self->bits = g_value_get_enum(value); break;
    case PROP_EXPOSURE: self->exposure_us = g_value_get_int(value); break;
    case PROP_GAIN: self->gain = g_value_get_int(value); break;
    case PROP_MIRROR_HORIZONTAL: self->mirror_horizontal = g_value_get_boolean(value); break;
    case PROP_MIRROR_VERTICAL: self->mirror_vertical = g_value_get_boolean(value); break;
    case PROP_WINDOW_X: self->window_x = g_value_get_int(value); break;
    case PROP_WINDOW_Y: self->window_y = g_value_get_int(value); break;
    case PROP_WINDOW_WIDTH: self->window_width = g_value_get_int(value); break;
    case PROP_WINDOW_HEIGHT: self->window_height = g_value_get_int(value); break;
    case PROP_TRIGGER_MODE: self->trigger_mode = g_value_get_boolean(value); break;
    case PROP_ADJUSTMENTS: {
        if (self->adjustments != nullptr) gst_structure_free(self->adjustments);
        const GstStructure* s = gst_value_get_structure(value);
        self->adjustments = s != nullptr ? gst_structure_copy(s) : nullptr;
        if (s != nullptr) adjustments = gst_structure_copy(s);
        break;
    }
    case PROP_MSB_ALIGNED: self->msb_aligned = g_value_get_boolean(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
    unlock_object(self);
    if (h == 0) {
        if (adjustments != nullptr) gst_structure_free(adjustments);
        return;
    }
    // The settings marked mutable in PLAYING reach a running camera at once
    // (outside the object lock: posting a message takes it).  A handle
    // released meanwhile is refused by the library, harmlessly.
    bool refused = false;
    switch (id) {
    case PROP_EXPOSURE:
        refused = g_value_get_int(value) > 0 && Zorbex_SetRealExposureTime(h, g_value_get_int(value)) == 0;
        break;
    case PROP_GAIN: refused = g_value_get_int(value) >= 0 && Zorbex_SetGlobalGain(h, g_value_get_int(value)) == 0; break;
    case PROP_MIRROR_HORIZONTAL: refused = Zorbex_SetMirrorH(h, g_value_get_boolean(value)) == 0; break;
    case PROP_MIRROR_VERTICAL: refused = Zorbex_SetMirrorV(h, g_value_get_boolean(value)) == 0; break;
    case PROP_ADJUSTMENTS:
        (void)apply_adjustments(self, h, adjustments, GST_MESSAGE_WARNING);
        if (adjustments != nullptr) gst_structure_free(adjustments);
        break;
    default: break;
    }
    if (refused) {
        gchar* what = g_strdup_printf("The camera refused %s", g_param_spec_get_name(pspec));
        post_library_message(self, GST_MESSAGE_WARNING, GST_RESOURCE_ERROR_SETTINGS, take_error_code(self, h), what);
        g_free(what);
    }
}

void zorbex_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(object);
    lock_object(self);
    switch (id) {
    case PROP_DEVICE_NUMBER: g_value_set_int(value, self->device_number); break;
    case PROP_COLOR_MODE: g_value_set_enum(value, self->bits); break;
    case PROP_EXPOSURE: g_value_set_int(value, self->exposure_us); break;
    case PROP_GAIN: g_value_set_int(value, self->gain); break;
    case PROP_MIRROR_HORIZONTAL: g_value_set_boolean(value, self->mirror_horizontal); break;
    case PROP_MIRROR_VERTICAL: g_value_set_boolean(value, self->mirror_vertical); break;
    case PROP_WINDOW_X: g_value_set_int(value, self->window_x); break;
    case PROP_WINDOW_Y: g_value_set_int(value, self->window_y); break;
    case PROP_WINDOW_WIDTH: g_value_set_int(value, self->window_width); break;
    case PROP_WINDOW_HEIGHT: g_value_set_int(value, self->window_height); break;
    case PROP_TRIGGER_MODE: g_value_set_boolean(value, self->trigger_mode); break;
    case PROP_ADJUSTMENTS: gst_value_set_structure(value, self->adjustments); break;
    case PROP_MSB_ALIGNED: g_value_set_boolean(value, self->msb_aligned); break;
    case PROP_STATS: g_value_take_boxed(value, make_stats(self)); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
    unlock_object(self);
}

void zorbex_finalize(GObject* object) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(object);
    if (self->adjustments != nullptr) gst_structure_free(self->adjustments);
    G_OBJECT_CLASS(gst_zorbex_src_parent_class)->finalize(object);
}

}  // namespace

static void gst_zorbex_src_class_init(GstZorbexSrcClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* base_class = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass* push_class = GST_PUSH_SRC_CLASS(klass);

    GST_DEBUG_CATEGORY_INIT(gst_zorbex_src_debug, "zorbexsrc", 0, "Zorbex 530RD-NQT camera source");

    object_class->set_property = zorbex_set_property;
    object_class->get_property = zorbex_get_property;
    object_class->finalize = zorbex_finalize;

    constexpr auto kReady = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);
    constexpr auto kLive = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);
    g_object_class_install_property(
        object_class, PROP_DEVICE_NUMBER,
        g_param_spec_int("device-number", "Device number", "Camera slot (0 to 31)", 0, ZBX_VCAM_MAX_SLOTS - 1,
                         kDefaultDevice, kReady));
    g_object_class_install_property(
        object_class, PROP_COLOR_MODE,
        g_param_spec_enum("color-mode", "Colour mode",
                          "Colour mode developed by the library; downstream caps that ask for another format "
                          "select the mode of that format",
                          colour_mode_get_type(), kDefaultBits, kReady));
    g_object_class_install_property(
        object_class, PROP_EXPOSURE,
        g_param_spec_int("exposure", "Exposure (us)",
                         "Exposure time in microseconds, rounded down to whole sensor lines; 0 keeps the "
                         "camera's saved exposure",
                         0, kMaxExposureUs, kDefaultExposure, kLive));
    g_object_class_install_property(
        object_class, PROP_GAIN,
        g_param_spec_int("gain", "Gain", "Sensor global gain index (0 to 11); -1 keeps the camera's saved gain", -1,
                         kMaxGain, kDefaultGain, kLive));
    g_object_class_install_property(
        object_class, PROP_MIRROR_HORIZONTAL,
        g_param_spec_boolean("mirror-horizontal", "Mirror horizontally", "Flip the picture left to right", FALSE,
                             kLive));
    g_object_class_install_property(
        object_class, PROP_MIRROR_VERTICAL,
        g_param_spec_boolean("mirror-vertical", "Mirror vertically", "Flip the picture top to bottom", FALSE,
                             kLive));
    g_object_class_install_property(
        object_class, PROP_WINDOW_X,
        g_param_spec_int("window-x", "Window left", "Left edge of the capture window on the sensor", 0,
                         kSensorWidth - 1, 0, kReady));
    g_object_class_install_property(
        object_class, PROP_WINDOW_Y,
        g_param_spec_int("window-y", "Window top", "Top edge of the capture window on the sensor", 0,
                         kSensorHeight - 1, 0, kReady));
    g_object_class_install_property(
        object_class, PROP_WINDOW_WIDTH,
        g_param_spec_int("window-width", "Window width",
                         "Width of the capture window; 0 reaches the sensor's right edge", 0, kSensorWidth, 0,
                         kReady));
    g_object_class_install_property(
        object_class, PROP_WINDOW_HEIGHT,
        g_param_spec_int("window-height", "Window height",
                         "Height of the capture window; 0 reaches the sensor's bottom edge", 0, kSensorHeight, 0,
                         kReady));
    g_object_class_install_property(
        object_class, PROP_TRIGGER_MODE,
        g_param_spec_boolean("trigger-mode", "Trigger mode",
                             "One frame per trigger (the camera's trigger input or the software-trigger "
                             "signal) instead of free running; the framerate is then 0/1",
                             FALSE, kReady));
    g_object_class_install_property(
        object_class, PROP_ADJUSTMENTS,
        g_param_spec_boxed("adjustments", "Image adjustments",
                           "Image adjustments by name, integers in the library's ranges, e.g. "
                           "\"adjustments,brightness=10,contrast=5,gamma=120\"; names: brightness, contrast, "
                           "hue, saturation, sharpness, bayer-gain-rgb, bayer-gain-red, bayer-gain-green, "
                           "bayer-gain-blue, bayer-gain-auto, gamma, bayer-mode, global-gain, color-gain-red, "
                           "color-gain-green1, color-gain-green2, color-gain-blue, exposure-time (lines), "
                           "gray-mode, gray-gain-r, gray-gain-g1, gray-gain-g2, gray-gain-b, gray-offset-r, "
                           "gray-offset-g1, gray-offset-g2, gray-offset-b",
                           GST_TYPE_STRUCTURE, kLive));
    g_object_class_install_property(
        object_class, PROP_MSB_ALIGNED,
        g_param_spec_boolean("msb-aligned", "MSB-aligned samples",
                             "16-bit samples (GRAY16_LE, BGRA64_LE) carry 12 significant bits: TRUE shifts them "
                             "to the top of the word (value x 16), FALSE keeps them 0 to 4095",
                             TRUE, kReady));
    g_object_class_install_property(
        object_class, PROP_STATS,
        g_param_spec_boxed("stats", "Statistics",
                           "Frames delivered, dropped (developed by the library but replaced by a newer frame "
                           "before this element could take them), discarded (arrived while not playing) and "
                           "failed (the library could not read them)",
                           GST_TYPE_STRUCTURE, static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    g_signal_new_class_handler("software-trigger", G_TYPE_FROM_CLASS(klass),
                               static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION),
                               G_CALLBACK(software_trigger), nullptr, nullptr, nullptr, G_TYPE_BOOLEAN, 0);

    gst_element_class_set_static_metadata(element_class, "Zorbex camera source", "Source/Video/Hardware",
                                          "Live video from a Zorbex 530RD-NQT camera", "Zorbex SDK developers");
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_type_mark_as_plugin_api(colour_mode_get_type(), static_cast<GstPluginAPIFlags>(0));

    base_class->start = zorbex_start;
    base_class->stop = zorbex_stop;
    base_class->get_caps = zorbex_get_caps;
    base_class->fixate = zorbex_fixate;
    base_class->set_caps = zorbex_set_caps;
    base_class->query = zorbex_query;
    base_class->decide_allocation = zorbex_decide_allocation;
    base_class->unlock = zorbex_unlock;
    base_class->unlock_stop = zorbex_unlock_stop;
    push_class->create = zorbex_create;
}

static void gst_zorbex_src_init(GstZorbexSrc* self) {
    self->device_number = kDefaultDevice;
    self->bits = kDefaultBits;
    self->exposure_us = kDefaultExposure;
    self->gain = kDefaultGain;
    self->msb_aligned = TRUE;
    self->period = GST_CLOCK_TIME_NONE;
    self->last_pts = GST_CLOCK_TIME_NONE;
    gst_video_info_init(&self->info);
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}
