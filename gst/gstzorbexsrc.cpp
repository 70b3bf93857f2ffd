// zorbexsrc: a live source element for the Zorbex 530RD-NQT camera.
//
// How frames arrive.  The element opens a session and a frame queue
// (zorbex/stream.h) on it; the buffers of its pool are the queue's buffers
// (zorbexsrc_pool.cpp): the library develops each frame straight into pool
// memory, create() takes the next filled one and pushes it, and when
// downstream lets it go the pool gives it back to the queue.  Every frame is
// kept in order while a buffer is free; the pool lends more when downstream
// keeps nearly all of them, and frames lost for want of one are counted by
// the queue and reported (stats property, QoS message, DISCONT flag, gaps in
// the offsets).  Timestamps are the frames' capture times on the pipeline
// clock; the frame rate is the library's frame period (zorbexsrc_delivery.cpp).
//
// Settings.  The element changes the camera only for its own run: what it
// changed is put back before the session ends (the library stores a
// session's values when it ends), unless save-settings is on.  Properties
// left unset keep the camera's values.

#include "gstzorbexsrc.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <numeric>
#include <string>

#include "zorbex/errors.h"
#include "zorbex/stream.h"
#include "zorbex/values.h"
#include "zorbex/zorbex.h"
#include "gstzorbexsrc_private.h"
#include "zorbex_format.h"
#include "zorbexsrc_delivery.h"
#include "zorbexsrc_pool.h"

GST_DEBUG_CATEGORY(gst_zorbex_src_debug);
#define GST_CAT_DEFAULT gst_zorbex_src_debug

namespace {

// The sensor of this camera model, for the pad template and the window
// properties' ranges; a running element asks the library.
constexpr int kSensorWidth = 1280;
constexpr int kSensorHeight = 720;
// The narrowest window the sensor reads out.
constexpr int kMinWindowWidth = 4;

constexpr int kDefaultDevice = 0;
constexpr int kDefaultBits = 24;
constexpr int kDefaultExposure = 0;  // keep the camera's exposure
constexpr int kDefaultGain = -1;     // keep the camera's gain
// The longest exposure the camera takes: 32767 sensor lines of 29.5 us
// (Zorbex_SetRealExposureTime refuses more; the shortest is 1 line, 30 us).
constexpr int kMaxExposureUs = 966655;

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
    PROP_SAVE_SETTINGS,
};

// The filter value id of an adjustments field, from the library's value
// table ("exposure-time" finds ExposureTime); 0 for names that are not
// image adjustment values.
int adjustment_id(const char* name) {
    ZbxValueInfo info{};
    if (ZbxValues_At(ZbxValues_Find(name), &info) == 0) return 0;
    return info.id >= ZBX_ID_BRIGHTNESS && info.id <= ZBX_ID_GRAY_AUTO_BALANCE ? info.id : 0;
}

// "BayerGainRGB" -> "bayer-gain-rgb": the table's name as a structure field.
std::string field_name(const char* table_name) {
    std::string out;
    for (const char* c = table_name; *c != '\0'; ++c) {
        const auto ch = static_cast<unsigned char>(*c);
        const bool starts_word = std::isupper(ch) && c != table_name &&
                                 (std::islower(static_cast<unsigned char>(c[-1])) ||
                                  std::isdigit(static_cast<unsigned char>(c[-1])));
        if (starts_word) out += '-';
        out += static_cast<char>(std::tolower(ch));
    }
    return out;
}

// The adjustments property's description, naming every image adjustment
// value of the table.  Made once per process; the class keeps it.
const gchar* adjustments_description() {
    std::string text =
        "Image adjustments by name, integers in the library's ranges, e.g. "
        "\"adjustments,brightness=10,contrast=5,gamma=120\"; names:";
    ZbxValueInfo info{};
    const char* separator = " ";
    for (int i = 0; ZbxValues_At(i, &info) != 0; ++i) {
        if (info.id < ZBX_ID_BRIGHTNESS || info.id > ZBX_ID_GRAY_AUTO_BALANCE) continue;
        text += separator + field_name(info.name);
        if (info.unit[0] != '\0') text += std::string(" (") + info.unit + ")";
        separator = ", ";
    }
    return g_intern_string(text.c_str());
}

// The highest global gain step the library accepts.
int max_gain() {
    ZbxValueInfo info{};
    return ZbxValues_At(ZbxValues_FindId(ZBX_ID_GLOBAL_GAIN), &info) != 0 ? info.max : 0;
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

bool read_frame_rate(GstZorbexSrc* self) {
    std::uint64_t period_ns = 0;
    gint n = 0;
    gint d = 1;
    GstClockTime period = GST_CLOCK_TIME_NONE;
    if (!self->running_trigger && ZbxCamera_GetFramePeriod(self->handle, &period_ns) == ZBX_OK && period_ns != 0) {
        const std::uint64_t divisor = std::gcd<std::uint64_t>(GST_SECOND, period_ns);
        n = static_cast<gint>(GST_SECOND / divisor);
        d = static_cast<gint>(std::min<std::uint64_t>(period_ns / divisor, G_MAXINT));
        period = period_ns;
    }
    GST_OBJECT_LOCK(self);
    const bool changed = n != self->fps_n || d != self->fps_d;
    self->fps_n = n;
    self->fps_d = d;
    self->period = period;
    GST_OBJECT_UNLOCK(self);
    return changed;
}

// Why a start failed: ZbxStream_Start answers with the session's last
// code, the "not ready" a failed start adds on top; the cause (camera in
// use, no camera) was posted to the notification window before it.
int start_failure(GstZorbexSrc* self, int code) {
    const int posted = take_error_code(self, self->handle);
    return code == ZBX_ERR_NOT_READY && posted != 0 ? posted : code;
}

bool start_camera(GstZorbexSrc* self) {
    int code = ZbxStream_Start(self->stream);
    if (code != ZBX_OK) {
        code = zbx::gst::start_failure(self, code);
        gchar* what = g_strdup_printf("Could not start camera %d", self->running_device);
        post_library_error(self, code, what);
        g_free(what);
        return false;
    }
    self->camera_running = TRUE;
    // Numbers go on from where the last run stopped; what came before the
    // first create is not the stream's.
    self->offset_base = self->next_offset;
    g_atomic_int_set(&self->stale, TRUE);
    return true;
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
using zbx::gst::take_error_code;

namespace {

// Notes the value of camera value `id` before the element first changes
// it, so that stop can put it back.  Any thread.
void remember_value(GstZorbexSrc* self, ZbxHandle h, int id) {
    g_mutex_lock(&self->saved_lock);
    bool known = false;
    for (guint i = 0; i < self->saved->len && !known; ++i)
        known = g_array_index(self->saved, zbx::gst::SavedValue, i).id == id;
    if (!known) {
        int ok = 1;
        int value = 0;
        if (id == zbx::gst::kMirrorHorizontalId) {
            value = Zorbex_GetMirrorH(h);
        } else if (id == zbx::gst::kMirrorVerticalId) {
            value = Zorbex_GetMirrorV(h);
        } else {
            value = Zorbex_GetFilterValue(h, id, &ok);
        }
        const zbx::gst::SavedValue saved{id, value};
        if (ok != 0) g_array_append_val(self->saved, saved);
    }
    g_mutex_unlock(&self->saved_lock);
}

// Puts back what the element changed, the last change first.  At stop,
// before the session ends and the library stores its values.
void restore_values(GstZorbexSrc* self, ZbxHandle h) {
    g_mutex_lock(&self->saved_lock);
    for (guint i = self->saved->len; i-- > 0;) {
        const zbx::gst::SavedValue& v = g_array_index(self->saved, zbx::gst::SavedValue, i);
        int ok = 0;
        if (v.id == zbx::gst::kMirrorHorizontalId) {
            ok = Zorbex_SetMirrorH(h, v.value);
        } else if (v.id == zbx::gst::kMirrorVerticalId) {
            ok = Zorbex_SetMirrorV(h, v.value);
        } else {
            ok = Zorbex_SetFilterValue(h, v.id, v.value);
        }
        if (ok == 0) GST_WARNING_OBJECT(self, "could not put camera value %d back to %d", v.id, v.value);
    }
    g_array_set_size(self->saved, 0);
    g_mutex_unlock(&self->saved_lock);
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
        remember_value(self, handle, id);
        if (Zorbex_SetFilterValue(handle, id, value) == 0) {
            gchar* what = g_strdup_printf("Adjustment %s=%d was refused", name, value);
            post_library_message(self, type, GST_RESOURCE_ERROR_SETTINGS, take_error_code(self, handle), what);
            g_free(what);
            return false;
        }
    }
    return true;
}

// Closes the frame queue (which stops the camera); buffers downstream still
// holds stay valid and are freed when they come back.
void close_stream(GstZorbexSrc* self) {
    GST_OBJECT_LOCK(self);
    ZbxStream* stream = self->stream;
    GstBufferPool* pool = self->pool;
    self->stream = nullptr;
    self->pool = nullptr;
    GST_OBJECT_UNLOCK(self);
    if (pool != nullptr) {
        zbx::gst::queue_pool_close_stream(pool);
        gst_object_unref(pool);
    } else if (stream != nullptr) {
        (void)ZbxStream_Close(stream);
    }
}

// The frame period is the sensor's timing as the settings apply at a
// start programs it, so the camera runs once with the element's settings
// before caps are offered: a queue of one buffer of the library's own,
// closed again (the element's own queue starts once the pool has lent its
// buffers).  Also where a camera in use or unplugged is found.  Streaming
// thread (start).  Posts the error itself.
bool probe_camera(GstZorbexSrc* self) {
    const ZbxHandle h = self->handle;
    ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT;
    config.buffer_count = 1;
    config.trigger = self->running_trigger ? 1 : 0;
    ZbxStream* probe = nullptr;
    int code = ZbxStream_Open(h, &config, &probe);
    if (code == ZBX_OK) code = ZbxStream_Start(probe);
    if (code == ZBX_OK) (void)zbx::gst::read_frame_rate(self);
    if (probe != nullptr) (void)ZbxStream_Close(probe);
    if (code != ZBX_OK) {
        code = zbx::gst::start_failure(self, code);
        gchar* what = g_strdup_printf("Could not start camera %d", self->running_device);
        post_library_error(self, code, what);
        g_free(what);
        return false;
    }
    return true;
}

// Selects the colour mode and opens the element's frame queue in it; the
// camera starts at the first create, once the pool lent its buffers.
// Streaming thread (start and set_caps).  Posts the error itself.
bool open_queue(GstZorbexSrc* self, int bits) {
    const ZbxHandle h = self->handle;
    if (Zorbex_SetColorMode(h, bits) == 0) {
        post_library_error(self, take_error_code(self, h), "Could not select the colour mode");
        return false;
    }
    ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT;
    config.buffer_count = 0;  // the pool lends them all
    config.trigger = self->running_trigger ? 1 : 0;
    ZbxStream* stream = nullptr;
    int code = ZbxStream_Open(h, &config, &stream);
    if (code == ZBX_OK) code = ZbxStream_GetFormat(stream, &self->format);
    if (code != ZBX_OK) {
        if (stream != nullptr) (void)ZbxStream_Close(stream);
        post_library_error(self, code, "Could not open a frame queue");
        return false;
    }
    GST_OBJECT_LOCK(self);
    self->stream = stream;
    self->width = self->format.width;
    self->height = self->format.height;
    GST_OBJECT_UNLOCK(self);
    self->running_bits = bits;
    self->camera_running = FALSE;
    GST_INFO_OBJECT(self, "camera %d: %dx%d, %d bits, %d/%d fps", self->running_device, self->width, self->height,
                    bits, self->fps_n, self->fps_d);
    return true;
}

// The selected camera's sensor size.  Streaming thread (start).
bool read_sensor_size(GstZorbexSrc* self, ZbxHandle h) {
    ZbxCameraInfo info{};
    info.size = sizeof info;
    if (Zorbex_GetCameraInfo(h, &info) == 0 || info.sensor_width <= 0 || info.sensor_height <= 0) return false;
    self->sensor_width = info.sensor_width;
    self->sensor_height = info.sensor_height;
    return true;
}

void close_session(GstZorbexSrc* self) {
    close_stream(self);
    GST_OBJECT_LOCK(self);
    const ZbxHandle h = self->handle;
    const bool keep = self->save_settings != FALSE;
    self->handle = 0;
    GST_OBJECT_UNLOCK(self);
    if (h != 0) {
        (void)Zorbex_Close(h);
        if (!keep) restore_values(self, h);
        (void)Zorbex_Release(h);
    }
    g_mutex_lock(&self->saved_lock);
    g_array_set_size(self->saved, 0);
    g_mutex_unlock(&self->saved_lock);
    if (self->notify != nullptr) (void)ZbxWin_DestroyWindow(self->notify);
    self->notify = nullptr;
    gst_object_replace(reinterpret_cast<GstObject**>(&self->clock), nullptr);
}

GstStructure* make_stats(GstZorbexSrc* self) {
    return gst_structure_new("zorbexsrc-stats", "delivered", G_TYPE_UINT64, self->delivered, "dropped",
                             G_TYPE_UINT64, self->dropped, "discarded", G_TYPE_UINT64, self->discarded,
                             "failed", G_TYPE_UINT64, self->failed, nullptr);
}

// ---- GstBaseSrc / GstPushSrc methods --------------------------------------

gboolean zorbex_start(GstBaseSrc* src) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    GST_OBJECT_LOCK(self);
    const int device = self->device_number;
    const int bits = self->bits;
    const int exposure = self->exposure_us;
    const int gain = self->gain;
    const int mirror_h = self->mirror_horizontal_set ? self->mirror_horizontal : -1;
    const int mirror_v = self->mirror_vertical_set ? self->mirror_vertical : -1;
    const int x = self->window_x;
    const int y = self->window_y;
    const int window_width = self->window_width;
    const int window_height = self->window_height;
    GstStructure* adjustments = self->adjustments != nullptr ? gst_structure_copy(self->adjustments) : nullptr;
    self->running_device = device;
    self->running_trigger = self->trigger_mode;
    self->running_x = x;
    self->running_y = y;
    self->fixed_width = self->window_width;
    self->fixed_height = self->window_height;
    self->caps_error_posted = FALSE;
    self->running_msb = self->msb_aligned;
    self->delivered = self->dropped = self->discarded = self->failed = 0;
    GST_OBJECT_UNLOCK(self);

    self->next_offset = 0;
    self->offset_base = 0;
    self->exposure_lines = 0;
    self->last_pts = GST_CLOCK_TIME_NONE;
    self->notify = ZbxWin_CreateMessageWindow();
    bool ok = self->notify != nullptr;
    ZbxHandle h = 0;
    if (!ok) {
        post_library_error(self, ZBX_ERR_WINDOW, "Could not create the message window");
    } else if ((h = Zorbex_Initialize(self->notify)) == 0) {
        const int code = take_error_code(self, 0);
        post_library_error(self, code != 0 ? code : ZBX_ERR_MEMORY, "Could not open a camera session");
        ok = false;
    }
    if (ok) {
        GST_OBJECT_LOCK(self);
        self->handle = h;
        GST_OBJECT_UNLOCK(self);
        // No preview window: frames go to GStreamer only.
        (void)Zorbex_SetPreviewWindow(h, nullptr, 0, 0, 0, 0);
        // No pause between frames: the library waits for the camera anyway.
        (void)Zorbex_SetWaitTime(h, 0);
        gchar* what = nullptr;
        if (Zorbex_SetDeviceNumber(h, device) == 0) {
            what = g_strdup_printf("Could not select camera %d", device);
        } else if (!read_sensor_size(self, h)) {
            what = g_strdup_printf("Could not read camera %d's sensor size", device);
        } else if (Zorbex_SetCaptureWindowEx(h, self->sensor_width, x,
                                             window_width != 0 ? window_width : self->sensor_width - x,
                                             self->sensor_height, y,
                                             window_height != 0 ? window_height : self->sensor_height - y) == 0) {
            what = g_strdup_printf("Capture window %dx%d at (%d, %d) does not fit the %dx%d sensor",
                                   window_width != 0 ? window_width : self->sensor_width - x,
                                   window_height != 0 ? window_height : self->sensor_height - y, x, y,
                                   self->sensor_width, self->sensor_height);
        } else {
            if (mirror_h >= 0) remember_value(self, h, zbx::gst::kMirrorHorizontalId);
            if (mirror_v >= 0) remember_value(self, h, zbx::gst::kMirrorVerticalId);
            if (gain >= 0) remember_value(self, h, ZBX_ID_GLOBAL_GAIN);
            if (exposure > 0) remember_value(self, h, ZBX_ID_EXPOSURE_TIME);
            if ((mirror_h >= 0 && Zorbex_SetMirrorH(h, mirror_h) == 0) ||
                (mirror_v >= 0 && Zorbex_SetMirrorV(h, mirror_v) == 0)) {
                what = g_strdup("Could not set the mirrors");
            } else if (gain >= 0 && Zorbex_SetGlobalGain(h, gain) == 0) {
                what = g_strdup_printf("Gain %d was refused", gain);
            } else if (exposure > 0 && Zorbex_SetRealExposureTime(h, exposure) == 0) {
                what = g_strdup_printf("Exposure %d us was refused", exposure);
            }
        }
        if (what != nullptr) {
            post_library_error(self, take_error_code(self, h), what);
            g_free(what);
            ok = false;
        }
    }
    if (ok) ok = apply_adjustments(self, h, adjustments, GST_MESSAGE_ERROR);
    if (adjustments != nullptr) gst_structure_free(adjustments);
    if (ok) ok = probe_camera(self) && open_queue(self, bits);
    if (!ok) close_session(self);
    return ok ? TRUE : FALSE;
}

gboolean zorbex_stop(GstBaseSrc* src) {
    close_session(GST_ZORBEX_SRC(src));
    return TRUE;
}

GstCaps* zorbex_get_caps(GstBaseSrc* src, GstCaps* filter) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    GST_OBJECT_LOCK(self);
    const bool open = self->handle != 0;
    const gint width = self->width;
    const gint height = self->height;
    const gint fps_n = self->fps_n;
    const gint fps_d = self->fps_d;
    GST_OBJECT_UNLOCK(self);
    GstCaps* caps = nullptr;
    if (!open) {
        caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(src));
    } else {
        // Every mode at the running window and rate first (the running
        // mode leading, so that it wins when downstream takes anything),
        // then every mode at each window size the sensor reads out from the
        // window's corner (unless the window properties fix it); the rate of
        // another size is known once the camera runs with it (fixate).
        caps = gst_caps_new_empty();
        int order[7] = {self->running_bits};
        std::copy(std::begin(zbx::gst::kColourModeBits), std::end(zbx::gst::kColourModeBits), order + 1);
        for (int bits : order) {
            const GstVideoFormat format = zbx::gst::format_of_mode(bits);
            caps = gst_caps_merge_structure(
                caps, gst_structure_new("video/x-raw", "format", G_TYPE_STRING, gst_video_format_to_string(format),
                                        "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, "framerate",
                                        GST_TYPE_FRACTION, fps_n, fps_d, "pixel-aspect-ratio", GST_TYPE_FRACTION,
                                        1, 1, nullptr));
        }
        const bool free_width = self->fixed_width == 0 && self->sensor_width - self->running_x > kMinWindowWidth;
        const bool free_height = self->fixed_height == 0 && self->sensor_height - self->running_y > 1;
        if (!self->running_trigger && (free_width || free_height)) {
            for (int bits : order) {
                const GstVideoFormat format = zbx::gst::format_of_mode(bits);
                GstStructure* s = gst_structure_new("video/x-raw", "format", G_TYPE_STRING,
                                                    gst_video_format_to_string(format), "framerate",
                                                    GST_TYPE_FRACTION_RANGE, 0, 1, G_MAXINT, 1, "pixel-aspect-ratio",
                                                    GST_TYPE_FRACTION, 1, 1, nullptr);
                if (free_width)
                    gst_structure_set(s, "width", GST_TYPE_INT_RANGE, kMinWindowWidth, self->sensor_width - self->running_x,
                                      nullptr);
                else
                    gst_structure_set(s, "width", G_TYPE_INT, width, nullptr);
                if (free_height)
                    gst_structure_set(s, "height", GST_TYPE_INT_RANGE, 1, self->sensor_height - self->running_y, nullptr);
                else
                    gst_structure_set(s, "height", G_TYPE_INT, height, nullptr);
                caps = gst_caps_merge_structure(caps, s);
            }
        }
    }
    if (filter != nullptr) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

// Runs the camera with a new window size: a new queue, and the frame
// period the size gives.  Streaming thread (fixate).
bool change_window(GstZorbexSrc* self, int width, int height) {
    GST_INFO_OBJECT(self, "window %dx%d for downstream", width, height);
    close_stream(self);
    if (Zorbex_SetCaptureWindowEx(self->handle, self->sensor_width, self->running_x, width, self->sensor_height,
                                  self->running_y, height) == 0) {
        gchar* what = g_strdup_printf("Capture window %dx%d at (%d, %d) does not fit the %dx%d sensor", width, height,
                                      self->running_x, self->running_y, self->sensor_width, self->sensor_height);
        post_library_error(self, take_error_code(self, self->handle), what);
        g_free(what);
        self->caps_error_posted = TRUE;
        return false;
    }
    if (probe_camera(self) && open_queue(self, self->running_bits)) return true;
    self->caps_error_posted = TRUE;
    return false;
}

// Downstream takes only a range of rates below the camera's: a longer
// exposure slows the camera down to the fastest of them, where the exposure
// can reach it.  A single rate is left alone: a frame period is whole
// sensor lines, so it can seldom be met exactly.  Streaming thread (fixate).
void slow_down_for(GstZorbexSrc* self, const GValue* wanted) {
    GST_OBJECT_LOCK(self);
    GValue current = G_VALUE_INIT;
    g_value_init(&current, GST_TYPE_FRACTION);
    gst_value_set_fraction(&current, self->fps_n, self->fps_d);
    const bool trigger = self->running_trigger != FALSE;
    GST_OBJECT_UNLOCK(self);
    const bool fits = gst_value_can_intersect(wanted, &current) &&
                      gst_value_intersect(nullptr, wanted, &current);
    // The fastest rate downstream takes.
    gint n = 0;
    gint d = 1;
    if (GST_VALUE_HOLDS_FRACTION_RANGE(wanted)) {
        const GValue* max = gst_value_get_fraction_range_max(wanted);
        n = gst_value_get_fraction_numerator(max);
        d = gst_value_get_fraction_denominator(max);
    }
    const bool slower = n > 0 && static_cast<gint64>(n) * self->fps_d < static_cast<gint64>(self->fps_n) * d;
    g_value_unset(&current);
    if (fits || trigger || n <= 0 || !slower) return;
    // The exposure of one frame period at that rate, and one sensor line
    // more: the camera rounds exposures down to whole lines, and a shorter
    // period would be a rate above downstream's.
    constexpr gint64 kLineUs = 30;
    const gint64 exposure = (static_cast<gint64>(d) * 1000000 + n - 1) / n + kLineUs;
    if (exposure > kMaxExposureUs) return;
    GST_INFO_OBJECT(self, "exposure %" G_GINT64_FORMAT " us for downstream's %d/%d fps", exposure, n, d);
    remember_value(self, self->handle, ZBX_ID_EXPOSURE_TIME);
    if (Zorbex_SetRealExposureTime(self->handle, static_cast<int>(exposure)) == 0) return;
    close_stream(self);
    if (!probe_camera(self) || !open_queue(self, self->running_bits)) self->caps_error_posted = TRUE;
}

// Downstream's order decides among the formats it takes equally (a
// converter lists them all); the configured colour mode wins when it is
// among them.  A size downstream asks for becomes the capture window; the
// framerate is the one the camera then runs at.
GstCaps* zorbex_fixate(GstBaseSrc* src, GstCaps* caps) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    const gchar* running = gst_video_format_to_string(zbx::gst::format_of_mode(self->running_bits));
    guint chosen = 0;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const gchar* format = gst_structure_get_string(gst_caps_get_structure(caps, i), "format");
        if (format != nullptr && std::strcmp(format, running) == 0) {
            chosen = i;
            break;
        }
    }
    GstCaps* one = gst_caps_copy_nth(caps, chosen);
    gst_caps_unref(caps);
    caps = one;
    GstStructure* s = gst_caps_get_structure(caps, 0);
    GST_OBJECT_LOCK(self);
    const gint width = self->width;
    const gint height = self->height;
    GST_OBJECT_UNLOCK(self);
    (void)gst_structure_fixate_field_nearest_int(s, "width", width);
    (void)gst_structure_fixate_field_nearest_int(s, "height", height);
    gint w = width;
    gint h = height;
    (void)gst_structure_get_int(s, "width", &w);
    (void)gst_structure_get_int(s, "height", &h);
    if ((w != width || h != height) && !change_window(self, w, h)) return caps;
    if (gst_structure_has_field(s, "framerate")) {
        slow_down_for(self, gst_structure_get_value(s, "framerate"));
        GST_OBJECT_LOCK(self);
        const gint fps_n = self->fps_n;
        const gint fps_d = self->fps_d;
        GST_OBJECT_UNLOCK(self);
        (void)gst_structure_fixate_field_nearest_fraction(s, "framerate", fps_n, fps_d);
    }
    return GST_BASE_SRC_CLASS(gst_zorbex_src_parent_class)->fixate(src, caps);
}

// The caps the camera offers, for messages.
gchar* offered_caps(GstZorbexSrc* self) {
    GstCaps* caps = zorbex_get_caps(GST_BASE_SRC(self), nullptr);
    gchar* text = gst_caps_to_string(caps);
    gst_caps_unref(caps);
    return text;
}

// When no caps could be agreed, the error says what the camera offers and
// what downstream accepts.
gboolean zorbex_negotiate(GstBaseSrc* src) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    if (GST_BASE_SRC_CLASS(gst_zorbex_src_parent_class)->negotiate(src)) return TRUE;
    if (!self->caps_error_posted) {
        gchar* offered = offered_caps(self);
        GstCaps* peer = gst_pad_peer_query_caps(GST_BASE_SRC_PAD(src), nullptr);
        gchar* accepted = peer != nullptr ? gst_caps_to_string(peer) : g_strdup("nothing");
        if (peer != nullptr) gst_caps_unref(peer);
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                          ("Camera %d offers %s; downstream accepts %s", self->running_device, offered, accepted),
                          (nullptr));
        g_free(offered);
        g_free(accepted);
        self->caps_error_posted = TRUE;
    }
    return FALSE;
}

gboolean zorbex_set_caps(GstBaseSrc* src, GstCaps* caps) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) return FALSE;
    const int bits = zbx::gst::mode_of_format(GST_VIDEO_INFO_FORMAT(&info), self->running_bits);
    if (bits == 0 || GST_VIDEO_INFO_WIDTH(&info) != self->width || GST_VIDEO_INFO_HEIGHT(&info) != self->height) {
        GST_WARNING_OBJECT(self, "caps %" GST_PTR_FORMAT " do not match the camera", caps);
        return FALSE;
    }
    if (bits != self->running_bits) {
        // Downstream asked for another mode: a new queue in it (buffers
        // already lent have the old layout).
        GST_INFO_OBJECT(self, "switching from %d to %d bits for downstream", self->running_bits, bits);
        close_stream(self);
        if (!open_queue(self, bits)) return FALSE;
    }
    // The library's rows land in the buffers as they are: its stride is
    // GStreamer's default (rows rounded up to 4 bytes), except for 48-bit
    // pixels, which grow to 64 in place.
    GST_OBJECT_LOCK(self);
    const bool rate_matches = GST_VIDEO_INFO_FPS_N(&info) == self->fps_n && GST_VIDEO_INFO_FPS_D(&info) == self->fps_d;
    GST_OBJECT_UNLOCK(self);
    if (!rate_matches) {
        gchar* asked = gst_caps_to_string(caps);
        gchar* offered = offered_caps(self);
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                          ("Camera %d cannot run at the framerate of %s; it offers %s", self->running_device, asked,
                           offered),
                          (nullptr));
        g_free(asked);
        g_free(offered);
        self->caps_error_posted = TRUE;
        return FALSE;
    }
    if (bits != 48 && static_cast<gint>(self->format.stride) != GST_VIDEO_INFO_PLANE_STRIDE(&info, 0)) {
        GST_ERROR_OBJECT(self, "frame rows of %d bytes do not match caps %" GST_PTR_FORMAT, self->format.stride, caps);
        return FALSE;
    }
    self->info = info;
    return TRUE;
}

// The pool is always our own queue pool: its buffers are the frame
// queue's.  It lends what downstream says it keeps, plus one buffer the
// library fills, one on its way downstream, one a sink keeps as its last
// sample, and three waiting, so that a camera faster than a moment's
// hold-up downstream loses nothing.
gboolean zorbex_decide_allocation(GstBaseSrc* src, GstQuery* query) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    GstCaps* caps = nullptr;
    gst_query_parse_allocation(query, &caps, nullptr);
    guint min = 0;
    guint max = 0;
    if (gst_query_get_n_allocation_pools(query) > 0) {
        GstBufferPool* offered = nullptr;
        guint size = 0;
        gst_query_parse_nth_allocation_pool(query, 0, &offered, &size, &min, &max);
        if (offered != nullptr) gst_object_unref(offered);
    }
    const guint count = min + 6;
    const guint size = static_cast<guint>(std::max<gsize>(GST_VIDEO_INFO_SIZE(&self->info), self->format.size));
    GST_OBJECT_LOCK(self);
    GstBufferPool* pool = self->pool != nullptr ? GST_BUFFER_POOL(gst_object_ref(self->pool)) : nullptr;
    ZbxStream* stream = self->stream;
    GST_OBJECT_UNLOCK(self);
    if (stream == nullptr) return FALSE;
    if (pool == nullptr) {
        pool = zbx::gst::queue_pool_new(stream, size);
        GstStructure* config = gst_buffer_pool_get_config(pool);
        gst_buffer_pool_config_set_params(config, caps, size, count, max != 0 ? std::max(max, count) : 0);
        if (!gst_buffer_pool_set_config(pool, config)) {
            gst_object_unref(pool);
            return FALSE;
        }
        GST_OBJECT_LOCK(self);
        self->pool = GST_BUFFER_POOL(gst_object_ref(pool));
        GST_OBJECT_UNLOCK(self);
    }
    if (gst_query_get_n_allocation_pools(query) > 0)
        gst_query_set_nth_allocation_pool(query, 0, pool, size, count, max);
    else
        gst_query_add_allocation_pool(query, pool, size, count, max);
    gst_object_unref(pool);
    return TRUE;
}

gboolean zorbex_query(GstBaseSrc* src, GstQuery* query) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
        GST_OBJECT_LOCK(self);
        const bool open = self->handle != 0;
        const GstClockTime period = self->period;
        GstBufferPool* pool = self->pool != nullptr ? GST_BUFFER_POOL(gst_object_ref(self->pool)) : nullptr;
        GST_OBJECT_UNLOCK(self);
        if (!open) {
            if (pool != nullptr) gst_object_unref(pool);
            return FALSE;
        }
        // A frame is pushed once developed, within one frame period of its
        // capture time; the queue holds at most as many frames as it has
        // buffers.  In trigger mode frames come when triggered.
        const guint buffers = pool != nullptr ? std::max(zbx::gst::queue_pool_buffers(pool), 1u) : 1u;
        if (pool != nullptr) gst_object_unref(pool);
        const bool timed = GST_CLOCK_TIME_IS_VALID(period);
        gst_query_set_latency(query, TRUE, timed ? period : 0, timed ? period * buffers : GST_CLOCK_TIME_NONE);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(gst_zorbex_src_parent_class)->query(src, query);
}

// Wakes the streaming thread waiting for a frame.
gboolean zorbex_unlock(GstBaseSrc* src) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    GST_OBJECT_LOCK(self);
    if (self->stream != nullptr) (void)ZbxStream_Cancel(self->stream);
    GST_OBJECT_UNLOCK(self);
    return TRUE;
}

gboolean zorbex_unlock_stop(GstBaseSrc* src) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(src);
    GST_OBJECT_LOCK(self);
    if (self->stream != nullptr) (void)ZbxStream_Resume(self->stream);
    GST_OBJECT_UNLOCK(self);
    // Frames that arrive while the pipeline is not playing are not part
    // of the stream.
    g_atomic_int_set(&self->stale, TRUE);
    return TRUE;
}

// Frames captured before the pipeline plays again are not part of the
// stream: a live pipeline pauses without unlocking a source that waits in
// create.
GstStateChangeReturn zorbex_change_state(GstElement* element, GstStateChange transition) {
    if (transition == GST_STATE_CHANGE_PAUSED_TO_PLAYING) g_atomic_int_set(&GST_ZORBEX_SRC(element)->stale, TRUE);
    return GST_ELEMENT_CLASS(gst_zorbex_src_parent_class)->change_state(element, transition);
}

GstFlowReturn zorbex_create(GstPushSrc* push, GstBuffer** out) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(push);
    return zbx::gst::deliver_frame(self, out);
}

// ---- GObject ---------------------------------------------------------------

void zorbex_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(object);
    GST_OBJECT_LOCK(self);
    const ZbxHandle h = self->handle;
    GstStructure* adjustments = nullptr;
    switch (id) {
    case PROP_DEVICE_NUMBER: self->device_number = g_value_get_int(value); break;
    case PROP_COLOR_MODE: self->bits = g_value_get_enum(value); break;
    case PROP_EXPOSURE: self->exposure_us = g_value_get_int(value); break;
    case PROP_GAIN: self->gain = g_value_get_int(value); break;
    case PROP_MIRROR_HORIZONTAL:
        self->mirror_horizontal = g_value_get_boolean(value);
        self->mirror_horizontal_set = TRUE;
        break;
    case PROP_MIRROR_VERTICAL:
        self->mirror_vertical = g_value_get_boolean(value);
        self->mirror_vertical_set = TRUE;
        break;
    case PROP_SAVE_SETTINGS: self->save_settings = g_value_get_boolean(value); break;
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
    GST_OBJECT_UNLOCK(self);
    if (h == 0) {
        if (adjustments != nullptr) gst_structure_free(adjustments);
        return;
    }
    // The settings marked mutable in PLAYING reach a running camera at once
    // (outside the object lock: posting a message takes it).  A handle
    // released meanwhile is refused by the library, harmlessly.
    // A new exposure reaches the caps with the first frame taken with it
    // (see zorbexsrc_delivery.cpp).
    bool refused = false;
    switch (id) {
    case PROP_EXPOSURE:
        if (g_value_get_int(value) > 0) {
            remember_value(self, h, ZBX_ID_EXPOSURE_TIME);
            refused = Zorbex_SetRealExposureTime(h, g_value_get_int(value)) == 0;
        }
        break;
    case PROP_GAIN:
        if (g_value_get_int(value) >= 0) {
            remember_value(self, h, ZBX_ID_GLOBAL_GAIN);
            refused = Zorbex_SetGlobalGain(h, g_value_get_int(value)) == 0;
        }
        break;
    case PROP_MIRROR_HORIZONTAL:
        remember_value(self, h, zbx::gst::kMirrorHorizontalId);
        refused = Zorbex_SetMirrorH(h, g_value_get_boolean(value)) == 0;
        break;
    case PROP_MIRROR_VERTICAL:
        remember_value(self, h, zbx::gst::kMirrorVerticalId);
        refused = Zorbex_SetMirrorV(h, g_value_get_boolean(value)) == 0;
        break;
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
    GST_OBJECT_LOCK(self);
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
    case PROP_SAVE_SETTINGS: g_value_set_boolean(value, self->save_settings); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
    GST_OBJECT_UNLOCK(self);
}

void zorbex_finalize(GObject* object) {
    GstZorbexSrc* self = GST_ZORBEX_SRC(object);
    if (self->adjustments != nullptr) gst_structure_free(self->adjustments);
    g_array_unref(self->saved);
    g_mutex_clear(&self->saved_lock);
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
        g_param_spec_int("device-number", "Device number", "Camera slot (0 to 31)", 0, ZBX_MAX_DEVICES - 1,
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
                         "Exposure time in microseconds, rounded down to whole sensor lines (the camera "
                         "takes 30 to 966655); 0 keeps the camera's exposure.  A change while playing "
                         "changes the framerate when the exposure is longer than a frame's readout",
                         0, kMaxExposureUs, kDefaultExposure, kLive));
    g_object_class_install_property(
        object_class, PROP_GAIN,
        g_param_spec_int("gain", "Gain", "Sensor global gain step; -1 keeps the camera's gain", -1,
                         max_gain(), kDefaultGain, kLive));
    g_object_class_install_property(
        object_class, PROP_MIRROR_HORIZONTAL,
        g_param_spec_boolean("mirror-horizontal", "Mirror horizontally",
                             "Flip the picture left to right; unset keeps the camera's setting", FALSE, kLive));
    g_object_class_install_property(
        object_class, PROP_MIRROR_VERTICAL,
        g_param_spec_boolean("mirror-vertical", "Mirror vertically",
                             "Flip the picture top to bottom; unset keeps the camera's setting", FALSE, kLive));
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
                             "One frame per pulse on the camera's trigger input instead of free running; "
                             "the framerate is then 0/1",
                             FALSE, kReady));
    g_object_class_install_property(
        object_class, PROP_ADJUSTMENTS,
        g_param_spec_boxed("adjustments", "Image adjustments", adjustments_description(),
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
                           "Frames delivered, dropped (lost while playing: no free buffer because downstream "
                           "kept them all, or skipped by the camera's transfer), discarded (captured or lost "
                           "while not playing) and failed (the library could not read them)",
                           GST_TYPE_STRUCTURE, static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    g_object_class_install_property(
        object_class, PROP_SAVE_SETTINGS,
        g_param_spec_boolean("save-settings", "Save settings",
                             "Keep the changes this element makes to the camera's values (exposure, gain, "
                             "mirrors, adjustments) for later sessions; off, they are put back when it stops",
                             FALSE, kReady));

    gst_element_class_set_static_metadata(element_class, "Zorbex camera source", "Source/Video/Hardware",
                                          "Live video from a Zorbex 530RD-NQT camera", "Zorbex SDK developers");
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_type_mark_as_plugin_api(colour_mode_get_type(), static_cast<GstPluginAPIFlags>(0));

    element_class->change_state = zorbex_change_state;
    base_class->start = zorbex_start;
    base_class->stop = zorbex_stop;
    base_class->get_caps = zorbex_get_caps;
    base_class->fixate = zorbex_fixate;
    base_class->negotiate = zorbex_negotiate;
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
    self->fps_d = 1;
    g_mutex_init(&self->saved_lock);
    self->saved = g_array_new(FALSE, FALSE, sizeof(zbx::gst::SavedValue));
    gst_video_info_init(&self->info);
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}
