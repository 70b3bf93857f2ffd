// zorbexsrc in pipelines on the virtual camera: caps of every colour mode,
// numbered and timestamped buffers, properties reaching the camera, files
// read back by independent tools, the camera errors, EOS.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "gstzorbexsrc.h"
#include "platform/settings_store.h"
#include "plugin.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "zorbex/errors.h"
#include "zorbex/vcam.h"
#include "zorbex/zorbex.h"

namespace {

// One pipeline, stopped and freed at the end of the test.
class Pipeline {
public:
    explicit Pipeline(const std::string& description) {
        GError* error = nullptr;
        pipeline_ = gst_parse_launch(description.c_str(), &error);
        if (error != nullptr) {
            ADD_FAILURE() << description << ": " << error->message;
            g_error_free(error);
        }
    }
    ~Pipeline() {
        if (pipeline_ == nullptr) return;
        (void)gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    GstElement* get() { return pipeline_; }
    GstElement* element(const char* name) {
        GstElement* e = gst_bin_get_by_name(GST_BIN(pipeline_), name);
        gst_object_unref(e);  // the bin keeps it
        return e;
    }
    void play() { (void)gst_element_set_state(pipeline_, GST_STATE_PLAYING); }
    // The next EOS or error message, or nullptr after `seconds`.
    GstMessage* wait_end(int seconds) {
        GstBus* bus = gst_element_get_bus(pipeline_);
        GstMessage* m = gst_bus_timed_pop_filtered(bus, static_cast<GstClockTime>(seconds) * GST_SECOND,
                                                   static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        gst_object_unref(bus);
        return m;
    }
    GstSample* pull(int seconds = 10) {
        return gst_app_sink_try_pull_sample(GST_APP_SINK(element("sink")),
                                            static_cast<GstClockTime>(seconds) * GST_SECOND);
    }
    // Runs to the end; true at EOS, false (with the error) otherwise.
    ::testing::AssertionResult run(int seconds = 60) {
        play();
        GstMessage* m = wait_end(seconds);
        if (m == nullptr) return ::testing::AssertionFailure() << "no EOS within " << seconds << " s";
        const bool eos = GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
        std::string text;
        if (!eos) {
            GError* error = nullptr;
            gst_message_parse_error(m, &error, nullptr);
            text = error->message;
            g_error_free(error);
        }
        gst_message_unref(m);
        if (eos) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << text;
    }
    guint64 stat(const char* field) {
        GstStructure* stats = nullptr;
        g_object_get(element("src"), "stats", &stats, nullptr);
        guint64 value = 0;
        EXPECT_TRUE(gst_structure_get_uint64(stats, field, &value)) << field;
        gst_structure_free(stats);
        return value;
    }

private:
    GstElement* pipeline_ = nullptr;
};

// The library's error code and text of an error message.
struct CameraError {
    int code = -1;
    std::string text;
};

CameraError camera_error(GstMessage* m) {
    CameraError e;
    if (m == nullptr || GST_MESSAGE_TYPE(m) != GST_MESSAGE_ERROR) return e;
    GError* error = nullptr;
    gst_message_parse_error(m, &error, nullptr);
    e.text = error->message;
    g_error_free(error);
    const GstStructure* details = nullptr;
    gst_message_parse_error_details(m, &details);
    if (details != nullptr) (void)gst_structure_get_int(details, "code", &e.code);
    return e;
}

// A checksum of a buffer's bytes.
std::string picture_digest(GstBuffer* buffer) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return {};
    gchar* sum = g_compute_checksum_for_data(G_CHECKSUM_SHA1, map.data, map.size);
    gst_buffer_unmap(buffer, &map);
    std::string digest(sum);
    g_free(sum);
    return digest;
}

int run_command(const std::string& command) { return std::system(command.c_str()); }

std::string command_output(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char chunk[256];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    (void)::pclose(pipe);
    return out;
}

class ZorbexSrc : public ::testing::Test {
protected:
    void SetUp() override {
        static const bool ready = [] {
            gst_init(nullptr, nullptr);
            return zorbex_plugin_register_static() == TRUE;
        }();
        ASSERT_TRUE(ready);
        // Each test starts as a first run on a fresh camera.
        (void)zbx::platform::delete_settings_tree("Software\\Tevrun\\Zorbex530RDNQTSdk");
        ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
        ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED), ZBX_VCAM_OK);
    }
    zbx::test::TempDir dir_{"zbxgst-"};
};

// ---- caps -------------------------------------------------------------------

struct CapsCase {
    const char* name;
    const char* source;   // zorbexsrc properties
    const char* filter;   // caps downstream asks for, or ""
    const char* format;   // format negotiated
    int depth;            // bits per sample
};

class ZorbexSrcCaps : public ZorbexSrc, public ::testing::WithParamInterface<CapsCase> {};

TEST_P(ZorbexSrcCaps, ModeGivesFormatGeometryRateAndSamples) {
    const CapsCase& c = GetParam();
    std::string description = std::string("zorbexsrc name=src num-buffers=2 ") + c.source + " window-width=640 window-height=480 ! ";
    if (c.filter[0] != '\0') description += std::string(c.filter) + " ! ";
    Pipeline p(description + "appsink name=sink sync=false");
    p.play();
    GstSample* sample = p.pull();
    ASSERT_NE(sample, nullptr);
    GstVideoInfo info;
    ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample)));
    EXPECT_STREQ(gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info)), c.format);
    EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), 640);
    EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&info), 480);
    // max(exposure lines, rows + 32 blanking lines) lines of (register 46
    // + 6) clocks at 100 MHz, as the camera documents its timing.
    uint16_t line = 0;
    uint16_t exposure = 0;
    uint16_t rows = 0;
    ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 46, &line), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 15, &exposure), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 5, &rows), ZBX_VCAM_OK);
    const double rate = 1e8 / (std::max<int>(exposure, rows + 32) * (line + 6.0));
    EXPECT_NEAR(static_cast<double>(GST_VIDEO_INFO_FPS_N(&info)) / GST_VIDEO_INFO_FPS_D(&info), rate, 0.01);

    GstBuffer* buffer = gst_sample_get_buffer(sample);
    ASSERT_EQ(gst_buffer_get_size(buffer), GST_VIDEO_INFO_SIZE(&info));
    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
    // The chart is not black; 16-bit samples are MSB-aligned (low 4 bits
    // clear) and 64-bit pixels opaque.
    bool lit = false;
    bool aligned = true;
    bool opaque = true;
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    const int pixel = GST_VIDEO_INFO_COMP_PSTRIDE(&info, 0);
    for (int y = 0; y < 480; y += 7) {
        const guint8* row = map.data + y * stride;
        for (int x = 0; x < 640; x += 5) {
            const guint8* px = row + x * pixel;
            lit = lit || px[0] != 0 || px[1] != 0;
            if (c.depth == 16) {
                uint16_t v;
                std::memcpy(&v, px, 2);
                aligned = aligned && (v & 0xF) == 0;
            }
            if (pixel == 8) {
                uint16_t alpha;
                std::memcpy(&alpha, px + 6, 2);
                opaque = opaque && alpha == 0xFFFF;
            }
        }
    }
    gst_buffer_unmap(buffer, &map);
    gst_sample_unref(sample);
    EXPECT_TRUE(lit);
    EXPECT_TRUE(aligned);
    EXPECT_TRUE(opaque);
}

INSTANTIATE_TEST_SUITE_P(
    EveryMode, ZorbexSrcCaps,
    ::testing::Values(CapsCase{"Mono8", "color-mode=mono8", "", "GRAY8", 8},
                      CapsCase{"Mono16", "color-mode=mono16", "", "GRAY16_LE", 16},
                      CapsCase{"Bgr", "color-mode=bgr", "", "BGR", 8},
                      CapsCase{"Bgrx", "color-mode=bgrx", "", "BGRx", 8},
                      CapsCase{"Bgr48", "color-mode=bgr48", "", "BGRA64_LE", 16},
                      CapsCase{"Bgra64", "color-mode=bgra64", "", "BGRA64_LE", 16},
                      // Downstream chooses: the mode follows.
                      CapsCase{"DownstreamAsksGray16", "color-mode=bgr", "video/x-raw,format=GRAY16_LE", "GRAY16_LE", 16},
                      CapsCase{"DownstreamAsksBgrx", "color-mode=mono8", "video/x-raw,format=BGRx", "BGRx", 8},
                      // A converter takes anything: the configured mode stays.
                      CapsCase{"ConverterKeepsBgrx", "color-mode=bgrx", "videoconvert", "BGRx", 8}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- buffers ----------------------------------------------------------------

// At camera rate every frame arrives, numbered 0, 1, 2 ... with timestamps
// one frame period apart, and the stream ends with EOS after num-buffers.
TEST_F(ZorbexSrc, PacedFramesAreNumberedAndTimestampedInOrder) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_PACED), ZBX_VCAM_OK);
    constexpr int kFrames = 20;
    Pipeline p("zorbexsrc name=src num-buffers=20 ! appsink name=sink sync=false");
    p.play();
    std::vector<GstClockTime> pts;
    std::vector<std::string> pictures;
    GstClockTime duration = 0;
    for (int i = 0; i < kFrames; ++i) {
        GstSample* sample = p.pull();
        ASSERT_NE(sample, nullptr) << i;
        GstBuffer* b = gst_sample_get_buffer(sample);
        pictures.push_back(picture_digest(b));
        EXPECT_EQ(GST_BUFFER_OFFSET(b), static_cast<guint64>(i));
        EXPECT_EQ(GST_BUFFER_OFFSET_END(b), static_cast<guint64>(i + 1));
        ASSERT_TRUE(GST_BUFFER_PTS_IS_VALID(b));
        pts.push_back(GST_BUFFER_PTS(b));
        duration = GST_BUFFER_DURATION(b);
        gst_sample_unref(sample);
    }
    EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(p.element("sink"))) ||
                gst_app_sink_try_pull_sample(GST_APP_SINK(p.element("sink")), 5 * GST_SECOND) == nullptr);
    EXPECT_NEAR(static_cast<double>(duration) / GST_SECOND, 1.0 / 45, 0.002);
    for (size_t i = 1; i < pts.size(); ++i) EXPECT_GT(pts[i], pts[i - 1]);
    // The chart's square moves every frame: no picture comes twice.
    for (size_t i = 1; i < pictures.size(); ++i) EXPECT_NE(pictures[i], pictures[i - 1]) << i;
    // The typical spacing is the frame period (the median: a frame message
    // that a busy machine delivers late moves one or two spacings only).
    std::vector<double> spacing;
    for (size_t i = 1; i < pts.size(); ++i) spacing.push_back(static_cast<double>(pts[i] - pts[i - 1]));
    std::nth_element(spacing.begin(), spacing.begin() + spacing.size() / 2, spacing.end());
    EXPECT_NEAR(spacing[spacing.size() / 2] / duration, 1.0, 0.2);
    EXPECT_EQ(p.stat("delivered"), static_cast<guint64>(kFrames));
    EXPECT_EQ(p.stat("dropped"), 0u);
    // Latency is one frame period.
    GstQuery* latency = gst_query_new_latency();
    ASSERT_TRUE(gst_element_query(p.element("src"), latency));
    gboolean live = FALSE;
    GstClockTime min = 0;
    gst_query_parse_latency(latency, &live, &min, nullptr);
    gst_query_unref(latency);
    EXPECT_TRUE(live);
    EXPECT_EQ(min, duration);
}

// Frames a stalled consumer could not take are counted, their numbers
// skipped, and the next buffer marked DISCONT: none is lost unaccounted.
TEST_F(ZorbexSrc, FramesNotTakenAreCountedAndTheirNumbersSkipped) {
    Pipeline p("zorbexsrc name=src ! appsink name=sink sync=false max-buffers=1");
    p.play();
    GstSample* first = p.pull();
    ASSERT_NE(first, nullptr);
    guint64 last_offset = GST_BUFFER_OFFSET(gst_sample_get_buffer(first));
    gst_sample_unref(first);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    guint64 gaps = 0;
    for (int i = 0; i < 5; ++i) {
        GstSample* s = p.pull();
        ASSERT_NE(s, nullptr);
        GstBuffer* b = gst_sample_get_buffer(s);
        const guint64 offset = GST_BUFFER_OFFSET(b);
        ASSERT_GT(offset, last_offset);
        // A gap in the numbers is always marked.
        if (offset != last_offset + 1) {
            EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(b, GST_BUFFER_FLAG_DISCONT)) << offset;
        }
        gaps += offset - last_offset - 1;
        last_offset = offset;
        gst_sample_unref(s);
    }
    (void)gst_element_set_state(p.get(), GST_STATE_PAUSED);
    // Every number skipped is a frame counted as dropped (more may have
    // been dropped since the last buffer pulled).
    EXPECT_GT(gaps, 0u);
    EXPECT_LE(gaps, p.stat("dropped"));
}

// Trigger mode: one buffer per pulse on the camera's trigger input (the
// virtual camera's here), variable frame rate.  The camera has no software
// trigger, so the element offers none.
TEST_F(ZorbexSrc, TriggerInputMakesOneFrameEach) {
    EXPECT_EQ(g_signal_lookup("software-trigger", GST_TYPE_ZORBEX_SRC), 0u);
    Pipeline p("zorbexsrc name=src trigger-mode=true ! appsink name=sink sync=false");
    p.play();
    // No trigger, no frame.
    EXPECT_EQ(p.pull(1), nullptr);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(ZbxVcam_FireTrigger(0), ZBX_VCAM_OK);
        GstSample* s = p.pull();
        ASSERT_NE(s, nullptr) << i;
        EXPECT_EQ(GST_BUFFER_OFFSET(gst_sample_get_buffer(s)), static_cast<guint64>(i));
        GstVideoInfo info;
        ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(s)));
        EXPECT_EQ(GST_VIDEO_INFO_FPS_N(&info), 0);
        gst_sample_unref(s);
    }
}

// ---- properties -------------------------------------------------------------

TEST_F(ZorbexSrc, PropertiesReachTheCamera) {
    Pipeline p("zorbexsrc name=src exposure=20000 gain=5 mirror-horizontal=true mirror-vertical=true "
               "window-x=100 window-y=60 window-width=320 window-height=240 "
               "adjustments=\"adjustments,brightness=10,gamma=120,saturation=-20\" ! appsink name=sink sync=false");
    p.play();
    GstSample* s = p.pull();
    ASSERT_NE(s, nullptr);
    GstVideoInfo info;
    ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(s)));
    gst_sample_unref(s);
    EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), 320);
    EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&info), 240);
    // Exposure in lines of (register 46 + 6) clocks at 100 MHz.
    uint16_t line = 0;
    uint16_t exposure = 0;
    uint16_t rows = 0;
    ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 46, &line), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 15, &exposure), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 5, &rows), ZBX_VCAM_OK);
    EXPECT_NEAR(exposure, 20000.0 / ((line + 6) * 0.01), 1.0);
    EXPECT_EQ(rows, 240);
    // A change while playing reaches the sensor at once.
    g_object_set(p.element("src"), "exposure", 5000, nullptr);
    ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 15, &exposure), ZBX_VCAM_OK);
    EXPECT_NEAR(exposure, 5000.0 / ((line + 6) * 0.01), 1.0);
    (void)gst_element_set_state(p.get(), GST_STATE_NULL);

    // The session saved what it ran with: a new session of the camera
    // reads it back.
    const ZbxHandle h = Zorbex_Initialize(nullptr);
    ASSERT_NE(h, 0u);
    int ok = 0;
    EXPECT_EQ(Zorbex_GetBrightness(h, &ok), 10);
    EXPECT_EQ(Zorbex_GetGamma(h, &ok), 120);
    EXPECT_EQ(Zorbex_GetSaturation(h, &ok), -20);
    EXPECT_EQ(Zorbex_GetGlobalGain(h, &ok), 5);
    EXPECT_EQ(Zorbex_GetMirrorH(h), 1);
    EXPECT_EQ(Zorbex_GetMirrorV(h), 1);
    EXPECT_NEAR(Zorbex_GetRealExposureTime(h, &ok), 5000, (line + 6) * 0.01);
    (void)Zorbex_Release(h);
}

// The adjustments property names every image value of the library's table
// (field names in lower case with '-'), and the element accepts each.
TEST_F(ZorbexSrc, AdjustmentsFollowTheLibrarysValueTable) {
    GParamSpec* spec = g_object_class_find_property(
        static_cast<GObjectClass*>(g_type_class_ref(GST_TYPE_ZORBEX_SRC)), "adjustments");
    ASSERT_NE(spec, nullptr);
    const std::string blurb = g_param_spec_get_blurb(spec);
    for (const char* name : {"brightness", "bayer-gain-rgb", "color-gain-green1", "exposure-time (lines)",
                             "gray-offset-b", "gray-auto-balance"})
        EXPECT_NE(blurb.find(name), std::string::npos) << name << " in " << blurb;
    Pipeline p("zorbexsrc adjustments=\"adjustments,gray-offset-b=7,gray-auto-balance=0\" ! appsink name=sink "
               "sync=false");
    p.play();
    GstSample* s = p.pull();
    ASSERT_NE(s, nullptr);
    gst_sample_unref(s);
}

TEST_F(ZorbexSrc, RefusedSettingsAreErrorsWithTheLibrarysWords) {
    for (const char* settings : {"window-x=1000 window-width=640", "adjustments=\"adjustments,sharpness=99\"",
                                 "adjustments=\"adjustments,no-such-thing=1\""}) {
        Pipeline p(std::string("zorbexsrc ") + settings + " ! fakesink");
        p.play();
        GstMessage* m = p.wait_end(10);
        const CameraError e = camera_error(m);
        if (m != nullptr) gst_message_unref(m);
        EXPECT_TRUE(e.code == ZBX_ERR_GEOMETRY || e.code == ZBX_ERR_PARAMETER) << settings << ": " << e.code;
        EXPECT_NE(e.text.find(ZbxError_Describe(e.code)), std::string::npos) << e.text;
    }
}

// ---- files read back by independent tools --------------------------------

TEST_F(ZorbexSrc, PngFrameReadsBackInPngcheckAndPil) {
    const std::string file = (dir_.path() / "frame.png").string();
    Pipeline p("zorbexsrc num-buffers=1 ! videoconvert ! pngenc ! filesink location=" + file);
    ASSERT_TRUE(p.run());
    EXPECT_EQ(run_command("pngcheck -q " + file), 0);
    EXPECT_EQ(command_output("/usr/bin/python3 -c \"from PIL import Image; i = Image.open('" + file +
                             "'); i.load(); print(i.size, i.mode)\""),
              "(1280, 720) RGB\n");
}

class ZorbexSrcVideo : public ZorbexSrc, public ::testing::WithParamInterface<const char*> {};

// H.264 in MP4 and raw video in Matroska: ffprobe counts every frame.
TEST_P(ZorbexSrcVideo, RecordingHoldsEveryFrame) {
    const std::string file = (dir_.path() / "clip").string();
    Pipeline p(std::string("zorbexsrc num-buffers=15 window-width=320 window-height=240 ! videoconvert ! ") +
               GetParam() + " ! filesink location=" + file);
    ASSERT_TRUE(p.run());
    const std::string out = command_output(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=width,height,nb_read_frames -of csv=p=0 " + file);
    EXPECT_EQ(out, "320,240,15\n");
}

INSTANTIATE_TEST_SUITE_P(Containers, ZorbexSrcVideo,
                         ::testing::Values("x264enc speed-preset=ultrafast ! mp4mux", "matroskamux"));

// ---- errors and EOS ---------------------------------------------------------

TEST_F(ZorbexSrc, CameraInUseByAnotherProcessIsAnError) {
    int ready[2];
    int done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    zbx::test::ChildProcess child([&] {
        // The camera table marks a camera in use with the session's
        // notification window: a session without one leaves no mark.
        const ZbxWindow window = ZbxWin_CreateMessageWindow();
        const ZbxHandle h = Zorbex_Initialize(window);
        (void)Zorbex_SetPreviewWindow(h, nullptr, 0, 0, 0, 0);
        const char started = Zorbex_StartPreview(h) == 1 ? 'y' : 'n';
        (void)::write(ready[1], &started, 1);
        char c;
        (void)::read(done[0], &c, 1);
        (void)Zorbex_Close(h);
        (void)Zorbex_Release(h);
        (void)ZbxWin_DestroyWindow(window);
        return 0;
    });
    char started = 0;
    ASSERT_EQ(::read(ready[0], &started, 1), 1);
    ASSERT_EQ(started, 'y');
    {
        Pipeline p("zorbexsrc ! fakesink");
        p.play();
        GstMessage* m = p.wait_end(10);
        const CameraError e = camera_error(m);
        if (m != nullptr) gst_message_unref(m);
        EXPECT_EQ(e.code, ZBX_ERR_DEVICE_UNAVAILABLE);
        EXPECT_NE(e.text.find(ZbxError_Describe(ZBX_ERR_DEVICE_UNAVAILABLE)), std::string::npos) << e.text;
        EXPECT_NE(e.text.find("ERR_DEVICE_UNAVAILABLE"), std::string::npos) << e.text;
    }
    (void)::write(done[1], "x", 1);
    EXPECT_EQ(child.wait(), 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
}

struct FaultCase {
    const char* name;
    int (*inject)(int slot);
    int code;
};

int stop_frames(int slot) { return ZbxVcam_StopFrames(slot, 1); }

class ZorbexSrcFault : public ZorbexSrc, public ::testing::WithParamInterface<FaultCase> {};

// A camera unplugged mid-stream, or one that stops sending frames, ends the
// stream with an error that carries the library's code and sentence.
TEST_P(ZorbexSrcFault, MidStreamFaultEndsTheStreamWithTheLibrarysError) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_PACED), ZBX_VCAM_OK);
    Pipeline p("zorbexsrc ! appsink name=sink sync=false max-buffers=2 drop=true");
    p.play();
    GstSample* s = p.pull();
    ASSERT_NE(s, nullptr);
    gst_sample_unref(s);
    ASSERT_EQ(GetParam().inject(0), ZBX_VCAM_OK);
    GstMessage* m = p.wait_end(30);
    const CameraError e = camera_error(m);
    if (m != nullptr) gst_message_unref(m);
    EXPECT_EQ(e.code, GetParam().code);
    EXPECT_NE(e.text.find(ZbxError_Describe(GetParam().code)), std::string::npos) << e.text;
}

INSTANTIATE_TEST_SUITE_P(Faults, ZorbexSrcFault,
                         ::testing::Values(FaultCase{"Unplug", ZbxVcam_Unplug, ZBX_ERR_FRAME_TIMEOUT},
                                           FaultCase{"NoFrames", stop_frames, ZBX_ERR_FRAME_TIMEOUT}),
                         [](const auto& info) { return std::string(info.param.name); });

// Stopping a live stream the way gst-launch-1.0 -e does: EOS downstream.
TEST_F(ZorbexSrc, EosEventEndsTheStreamCleanly) {
    Pipeline p("zorbexsrc ! appsink name=sink sync=false max-buffers=2 drop=true wait-on-eos=false");
    p.play();
    GstSample* s = p.pull();
    ASSERT_NE(s, nullptr);
    gst_sample_unref(s);
    ASSERT_TRUE(gst_element_send_event(p.get(), gst_event_new_eos()));
    GstMessage* m = p.wait_end(5);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(GST_MESSAGE_TYPE(m), GST_MESSAGE_EOS);
    gst_message_unref(m);
    EXPECT_EQ(gst_element_set_state(p.get(), GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
}

}  // namespace
