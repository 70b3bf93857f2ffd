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

struct WindowCase {
    const char* name;
    const char* filter;  // what downstream asks for
    int width;
    int height;
};

class ZorbexSrcWindow : public ZorbexSrc, public ::testing::WithParamInterface<WindowCase> {};

// A size downstream asks for becomes the capture window, at the frame rate
// the camera then runs at.
TEST_P(ZorbexSrcWindow, DownstreamSizeSetsTheCaptureWindow) {
    const WindowCase& c = GetParam();
    Pipeline p(std::string("zorbexsrc name=src num-buffers=2 ! ") + c.filter + " ! appsink name=sink sync=false");
    p.play();
    GstSample* sample = p.pull();
    ASSERT_NE(sample, nullptr);
    GstVideoInfo info;
    ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample)));
    EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), c.width);
    EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&info), c.height);
    EXPECT_EQ(gst_buffer_get_size(gst_sample_get_buffer(sample)), GST_VIDEO_INFO_SIZE(&info));
    gst_sample_unref(sample);
    uint16_t rows = 0;
    uint16_t columns = 0;
    ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 5, &rows), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 7, &columns), ZBX_VCAM_OK);
    EXPECT_EQ(rows, (c.height + 1) & ~1);
    EXPECT_EQ(columns, (c.width + 1) & ~1);
    uint16_t line = 0;
    uint16_t exposure = 0;
    ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 46, &line), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 15, &exposure), ZBX_VCAM_OK);
    const double rate = 1e8 / (std::max<int>(exposure, rows + 32) * (line + 6.0));
    EXPECT_NEAR(static_cast<double>(GST_VIDEO_INFO_FPS_N(&info)) / GST_VIDEO_INFO_FPS_D(&info), rate, 0.01);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ZorbexSrcWindow,
    ::testing::Values(WindowCase{"Vga", "video/x-raw,width=640,height=480", 640, 480},
                      WindowCase{"OddGray", "video/x-raw,format=GRAY8,width=321,height=199", 321, 199},
                      WindowCase{"WidthOnly", "video/x-raw,width=800", 800, 720}),
    [](const auto& info) { return std::string(info.param.name); });

// Caps the camera cannot meet end in an error that says what it offers.
TEST_F(ZorbexSrc, UnmetCapsSayWhatTheCameraOffers) {
    for (const char* filter : {"video/x-raw,width=2000", "video/x-raw,framerate=45/1", "video/x-raw,format=I420"}) {
        // Linked first, then the filter set: negotiation fails.
        Pipeline p("zorbexsrc ! capsfilter name=f ! fakesink");
        GstCaps* caps = gst_caps_from_string(filter);
        g_object_set(p.element("f"), "caps", caps, nullptr);
        gst_caps_unref(caps);
        p.play();
        GstMessage* m = p.wait_end(10);
        ASSERT_NE(m, nullptr) << filter;
        ASSERT_EQ(GST_MESSAGE_TYPE(m), GST_MESSAGE_ERROR) << filter;
        GError* error = nullptr;
        gst_message_parse_error(m, &error, nullptr);
        const std::string text = error->message;
        g_error_free(error);
        gst_message_unref(m);
        EXPECT_NE(text.find("offers"), std::string::npos) << filter << ": " << text;
        EXPECT_NE(text.find("framerate=(fraction)125000/2773"), std::string::npos) << filter << ": " << text;
        EXPECT_NE(text.find("width=(int)[ 4, 1280 ]"), std::string::npos) << filter << ": " << text;
    }
}

// ---- buffers ----------------------------------------------------------------

// At camera rate every frame arrives, numbered one after the other, with
// timestamps one frame period apart, and the stream ends with EOS after
// num-buffers.
TEST_F(ZorbexSrc, PacedFramesAreNumberedAndTimestampedInOrder) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_PACED), ZBX_VCAM_OK);
    constexpr int kFrames = 20;
    Pipeline p("zorbexsrc name=src num-buffers=20 ! appsink name=sink sync=false");
    p.play();
    std::vector<GstClockTime> pts;
    std::vector<std::string> pictures;
    GstClockTime duration = 0;
    guint64 first = 0;
    for (int i = 0; i < kFrames; ++i) {
        GstSample* sample = p.pull();
        ASSERT_NE(sample, nullptr) << i;
        GstBuffer* b = gst_sample_get_buffer(sample);
        pictures.push_back(picture_digest(b));
        if (i == 0) first = GST_BUFFER_OFFSET(b);
        EXPECT_EQ(GST_BUFFER_OFFSET(b), first + i);
        EXPECT_EQ(GST_BUFFER_OFFSET_END(b), first + i + 1);
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
    // Capture times: the typical spacing is the frame period (the median:
    // the virtual camera's pacing thread may be late on a busy machine).
    std::vector<double> spacing;
    for (size_t i = 1; i < pts.size(); ++i) spacing.push_back(static_cast<double>(pts[i] - pts[i - 1]));
    std::nth_element(spacing.begin(), spacing.begin() + spacing.size() / 2, spacing.end());
    EXPECT_NEAR(spacing[spacing.size() / 2] / duration, 1.0, 0.1);
    EXPECT_EQ(p.stat("delivered"), static_cast<guint64>(kFrames));
    EXPECT_EQ(p.stat("dropped"), 0u);
    // Latency is one frame period at least.
    GstQuery* latency = gst_query_new_latency();
    ASSERT_TRUE(gst_element_query(p.element("src"), latency));
    gboolean live = FALSE;
    GstClockTime min = 0;
    GstClockTime max = 0;
    gst_query_parse_latency(latency, &live, &min, &max);
    gst_query_unref(latency);
    EXPECT_TRUE(live);
    EXPECT_EQ(min, duration);
    EXPECT_GE(max, min);
}

// The buffers are the frame queue's: downstream holding many frames makes
// the pool lend more instead of losing frames, and every buffer pushed
// comes from the element's own pool.
TEST_F(ZorbexSrc, BuffersComeFromTheQueuePoolAndGrowWithDownstreamsNeed) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_PACED), ZBX_VCAM_OK);
    Pipeline p("zorbexsrc name=src ! appsink name=sink sync=false");
    p.play();
    std::vector<GstSample*> kept;
    for (int i = 0; i < 10; ++i) {
        GstSample* s = p.pull();
        ASSERT_NE(s, nullptr) << i;
        EXPECT_NE(gst_sample_get_buffer(s)->pool, nullptr) << i;
        kept.push_back(s);
    }
    for (GstSample* s : kept) gst_sample_unref(s);
    EXPECT_EQ(p.stat("dropped"), 0u);
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
    // The frames queued while the consumer stalled come first, in order;
    // then the gap.
    guint64 gaps = 0;
    for (int i = 0; i < 12; ++i) {
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

// Frames captured while paused are not the stream's: after resuming, the
// next buffer is a new frame, and those passed over count as discarded, not
// dropped.  State cycles leave nothing behind.
TEST_F(ZorbexSrc, FramesWhilePausedAreDiscardedAndStateCyclesRunClean) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_PACED), ZBX_VCAM_OK);
    Pipeline p("zorbexsrc name=src ! appsink name=sink sync=false");
    for (int cycle = 0; cycle < 3; ++cycle) {
        p.play();
        GstSample* s = p.pull();
        ASSERT_NE(s, nullptr) << cycle;
        const guint64 before = GST_BUFFER_OFFSET(gst_sample_get_buffer(s));
        gst_sample_unref(s);
        ASSERT_NE(gst_element_set_state(p.get(), GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        // Buffers already pushed to the sink before the pause.
        while (GstSample* old = gst_app_sink_try_pull_sample(GST_APP_SINK(p.element("sink")), 0))
            gst_sample_unref(old);
        p.play();
        // The sink may still hold the one buffer it was given as the
        // pipeline paused; the next is 400 ms (a dozen frames) later.
        guint64 after = before;
        for (int i = 0; i < 2 && after < before + 12; ++i) {
            s = p.pull();
            ASSERT_NE(s, nullptr) << cycle;
            after = GST_BUFFER_OFFSET(gst_sample_get_buffer(s));
            gst_sample_unref(s);
        }
        EXPECT_GE(after, before + 12) << cycle;
        EXPECT_GT(p.stat("discarded"), 0u) << cycle;
        EXPECT_EQ(p.stat("dropped"), 0u) << cycle;
        ASSERT_EQ(gst_element_set_state(p.get(), GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    }
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
    Pipeline p("zorbexsrc name=src save-settings=true exposure=20000 gain=5 mirror-horizontal=true mirror-vertical=true "
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

    // With save-settings the session kept what it ran with: a new session
    // of the camera reads it back.
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

// Camera values as a new session of camera 0 finds them.
struct StoredValues {
    int brightness = 0;
    int gain = 0;
    int exposure_lines = 0;
    int mirror_h = 0;
    int mirror_v = 0;
};

StoredValues stored_values() {
    StoredValues v;
    const ZbxHandle h = Zorbex_Initialize(nullptr);
    EXPECT_NE(h, 0u);
    int ok = 0;
    v.brightness = Zorbex_GetBrightness(h, &ok);
    v.gain = Zorbex_GetGlobalGain(h, &ok);
    v.exposure_lines = Zorbex_GetExposureTime(h, &ok);
    v.mirror_h = Zorbex_GetMirrorH(h);
    v.mirror_v = Zorbex_GetMirrorV(h);
    (void)Zorbex_Release(h);
    return v;
}

class ZorbexSrcSettings : public ZorbexSrc, public ::testing::WithParamInterface<bool> {};

// By default the element changes the camera for its run only; with
// save-settings its changes stay.  A mirror it was not told about keeps
// the camera's setting either way.
TEST_P(ZorbexSrcSettings, ChangesLastForTheRunUnlessSaved) {
    const bool save = GetParam();
    {
        const ZbxHandle h = Zorbex_Initialize(nullptr);
        ASSERT_NE(h, 0u);
        ASSERT_EQ(Zorbex_SetMirrorH(h, 1), 1);
        ASSERT_EQ(Zorbex_SetBrightness(h, 5), 1);
        (void)Zorbex_Release(h);  // stores them
    }
    const StoredValues before = stored_values();
    ASSERT_EQ(before.mirror_h, 1);
    {
        Pipeline p(std::string("zorbexsrc name=src exposure=20000 gain=5 mirror-vertical=true ") +
                   "adjustments=\"adjustments,brightness=10\" save-settings=" + (save ? "true" : "false") +
                   " ! appsink name=sink sync=false");
        p.play();
        GstSample* s = p.pull();
        ASSERT_NE(s, nullptr);
        gst_sample_unref(s);
        // While running: the saved horizontal mirror is on (register 2,
        // bit 1 clear), the vertical one asked for too (bit 0 clear).
        uint16_t mirror = 0;
        ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 2, &mirror), ZBX_VCAM_OK);
        EXPECT_EQ(mirror & 3, 0);
        g_object_set(p.element("src"), "gain", 7, nullptr);
    }
    const StoredValues after = stored_values();
    EXPECT_EQ(after.mirror_h, 1);
    if (save) {
        EXPECT_EQ(after.brightness, 10);
        EXPECT_EQ(after.gain, 7);
        EXPECT_EQ(after.mirror_v, 1);
        EXPECT_NE(after.exposure_lines, before.exposure_lines);
    } else {
        EXPECT_EQ(after.brightness, before.brightness);
        EXPECT_EQ(after.gain, before.gain);
        EXPECT_EQ(after.mirror_v, before.mirror_v);
        EXPECT_EQ(after.exposure_lines, before.exposure_lines);
    }
}

INSTANTIATE_TEST_SUITE_P(SaveOrNot, ZorbexSrcSettings, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Saved" : "PutBack"); });

// The exposure property's range is what the camera takes: its maximum is
// accepted, one microsecond more refused.
TEST_F(ZorbexSrc, ExposureRangeIsTheCamerasOwn) {
    GstElement* src = gst_element_factory_make("zorbexsrc", nullptr);
    ASSERT_NE(src, nullptr);
    GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(src), "exposure");
    ASSERT_NE(spec, nullptr);
    const int max = G_PARAM_SPEC_INT(spec)->maximum;
    gst_object_unref(src);
    const ZbxHandle h = Zorbex_Initialize(nullptr);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(Zorbex_SetRealExposureTime(h, max), 1);
    EXPECT_EQ(Zorbex_SetRealExposureTime(h, max + 1), 0);
    EXPECT_EQ(Zorbex_SetRealExposureTime(h, 30), 1);
    EXPECT_EQ(Zorbex_SetRealExposureTime(h, 29), 0);
    (void)Zorbex_Release(h);
}

// A longer exposure while playing slows the camera: the caps say so, the
// durations follow and the pipeline is told its latency changed.
TEST_F(ZorbexSrc, ExposureChangeWhilePlayingRenegotiatesTheFramerate) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_PACED), ZBX_VCAM_OK);
    Pipeline p("zorbexsrc name=src window-width=640 window-height=480 ! appsink name=sink sync=false");
    p.play();
    GstSample* s = p.pull();
    ASSERT_NE(s, nullptr);
    GstVideoInfo info;
    ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(s)));
    gst_sample_unref(s);
    const double fast = static_cast<double>(GST_VIDEO_INFO_FPS_N(&info)) / GST_VIDEO_INFO_FPS_D(&info);
    g_object_set(p.element("src"), "exposure", 60000, nullptr);
    double rate = fast;
    GstClockTime duration = 0;
    for (int i = 0; i < 30 && rate == fast; ++i) {
        s = p.pull();
        ASSERT_NE(s, nullptr);
        ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(s)));
        rate = static_cast<double>(GST_VIDEO_INFO_FPS_N(&info)) / GST_VIDEO_INFO_FPS_D(&info);
        duration = GST_BUFFER_DURATION(gst_sample_get_buffer(s));
        gst_sample_unref(s);
    }
    // 60 ms of exposure is longer than the 480 rows' readout: the frame
    // period is the exposure (to the line).
    EXPECT_NEAR(rate, 1e6 / 60000, 0.05);
    EXPECT_NEAR(static_cast<double>(duration) / GST_SECOND, 1 / rate, 1e-6);
    GstBus* bus = gst_element_get_bus(p.get());
    GstMessage* latency = gst_bus_pop_filtered(bus, GST_MESSAGE_LATENCY);
    gst_object_unref(bus);
    EXPECT_NE(latency, nullptr);
    if (latency != nullptr) gst_message_unref(latency);
    GstQuery* query = gst_query_new_latency();
    ASSERT_TRUE(gst_element_query(p.element("src"), query));
    GstClockTime min = 0;
    gst_query_parse_latency(query, nullptr, &min, nullptr);
    gst_query_unref(query);
    EXPECT_EQ(min, duration);
}

// Downstream that takes only slower rates gets the camera slowed down by a
// longer exposure, for this run only.
TEST_F(ZorbexSrc, DownstreamRateRangeSetsTheExposure) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_PACED), ZBX_VCAM_OK);
    const StoredValues before = stored_values();
    {
        Pipeline p("zorbexsrc num-buffers=3 ! video/x-raw,framerate=[5/1,15/1] ! appsink name=sink sync=false");
        p.play();
        GstSample* s = p.pull();
        ASSERT_NE(s, nullptr);
        GstVideoInfo info;
        ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(s)));
        gst_sample_unref(s);
        const double rate = static_cast<double>(GST_VIDEO_INFO_FPS_N(&info)) / GST_VIDEO_INFO_FPS_D(&info);
        EXPECT_LE(rate, 15.0);
        EXPECT_GT(rate, 14.9);
    }
    EXPECT_EQ(stored_values().exposure_lines, before.exposure_lines);
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

// ---- device monitor ---------------------------------------------------------

// The camera of this device, from the device monitor's Video/Source list.
struct ListedCamera {
    bool found = false;
    bool in_use = false;
    bool caps_have_sizes = false;
    int element_device = -1;
};

ListedCamera listed_camera(int number) {
    ListedCamera listed;
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    (void)gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* l = devices; l != nullptr; l = l->next) {
        GstDevice* device = GST_DEVICE(l->data);
        GstStructure* props = gst_device_get_properties(device);
        int n = -1;
        const gchar* api = props != nullptr ? gst_structure_get_string(props, "device.api") : nullptr;
        if (api != nullptr && std::strcmp(api, "zorbex") == 0 && gst_structure_get_int(props, "device.number", &n) &&
            n == number) {
            listed.found = true;
            gboolean busy = FALSE;
            (void)gst_structure_get_boolean(props, "device.in-use", &busy);
            listed.in_use = busy != FALSE;
            GstCaps* caps = gst_device_get_caps(device);
            GstCaps* vga = gst_caps_from_string("video/x-raw,format=BGR,width=640,height=480");
            listed.caps_have_sizes = caps != nullptr && gst_caps_can_intersect(caps, vga);
            gst_caps_unref(vga);
            if (caps != nullptr) gst_caps_unref(caps);
            GstElement* element = gst_device_create_element(device, nullptr);
            if (element != nullptr) {
                g_object_get(element, "device-number", &listed.element_device, nullptr);
                gst_object_unref(element);
            }
        }
        if (props != nullptr) gst_structure_free(props);
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
    return listed;
}

// gst-device-monitor-1.0 Video/Source lists the camera with its caps, makes
// a zorbexsrc for it, and says when another session streams from it.
TEST_F(ZorbexSrc, DeviceMonitorListsTheCameraAndWhetherItIsInUse) {
    ListedCamera idle = listed_camera(0);
    ASSERT_TRUE(idle.found);
    EXPECT_FALSE(idle.in_use);
    EXPECT_TRUE(idle.caps_have_sizes);
    EXPECT_EQ(idle.element_device, 0);
    Pipeline p("zorbexsrc ! fakesink");
    p.play();
    ASSERT_NE(gst_element_get_state(p.get(), nullptr, nullptr, 10 * GST_SECOND), GST_STATE_CHANGE_FAILURE);
    EXPECT_TRUE(listed_camera(0).in_use);
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
