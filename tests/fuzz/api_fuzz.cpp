// A seeded random driver of the whole C interface: every export, with
// hostile arguments (stale and random handles, null and short buffers,
// FIFOs, devices and missing folders as file names, extreme numbers), from
// two threads on several sessions while the virtual camera fails reads,
// stalls, refuses register commands and is unplugged.  Built with
// AddressSanitizer and UndefinedBehaviorSanitizer it turns memory faults
// into reports; a watchdog turns any call that runs longer than 10 s into
// a failure (exit status 3) that names the call.
//
//   api_fuzz [--seed N] [--calls N] [--seconds N] [--threads N] [--pairs 1]
//
// --pairs 1 is the concurrent-pairs mode: two threads on one session, each
// starting its next export at the same moment as the other (a barrier
// before every call), the slow, stateful exports picked half of the time
// and small numbers (valid cameras, modes, flags) more often; it finds
// exports that free what another export on the same session is using.
//
// Ends with status 0 after the calls (or the time) given, printing how many
// calls of each export ran.  Equal seeds give equal call sequences per
// thread; the interleaving of the threads differs from run to run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <barrier>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "zorbex/stream.h"
#include "zorbex/vcam.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSessions = 4;
// The session of the concurrent-pairs mode.
constexpr int kPairSession = 0;

constexpr std::int64_t kWatchdogMs = 10000;
constexpr std::size_t kFrameBytes = 1280 * 720 * 8;  // the largest image of any mode

std::int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What every thread shares: the open sessions, windows and file names.
struct World {
    std::array<std::atomic<ZbxHandle>, kSessions> sessions{};
    std::atomic<ZbxHandle> stale{0};  // a handle released earlier
    std::vector<ZbxWindow> windows;
    fs::path dir;
    std::vector<std::string> names;
    std::vector<std::u16string> wide_names;
    bool pairs = false;
};
World g_world;

// What the watchdog sees of one thread.
struct Running {
    std::atomic<std::int64_t> since{0};  // 0: between calls
    std::atomic<const char*> name{nullptr};
    std::atomic<std::uint64_t> index{0};
};

struct Text {
    char* narrow;
    char16_t* wide;
    int size;
};
struct Image {
    void* data;
    int length;
};

// One thread's argument source.
class Args {
public:
    explicit Args(std::uint64_t seed) : rng_(seed), frame_(new std::uint8_t[kFrameBytes]) {}

    std::uint32_t pick(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }
    bool chance(std::uint32_t per_thousand) { return pick(1000) < per_thousand; }

    ZbxHandle handle() {
        const std::uint32_t r = pick(100);
        if (g_world.pairs) return r < 98 ? g_world.sessions[kPairSession].load() : g_world.stale.load();
        if (r < 88) return g_world.sessions[pick(kSessions)].load();
        if (r < 93) return g_world.stale.load();
        if (r < 97) return static_cast<ZbxHandle>(rng_());
        return 0;
    }
    ZbxWindow window() {
        const std::uint32_t r = pick(static_cast<std::uint32_t>(g_world.windows.size()) + 1);
        return r == 0 ? nullptr : g_world.windows[r - 1];
    }
    int integer() {
        // Pairs: valid camera numbers, modes and flags often, so that calls
        // get past their checks to the work that may collide.
        if (g_world.pairs && chance(400)) return static_cast<int>(pick(4));
        static constexpr int kValues[] = {0,   1,    -1,   2,    3,     4,      5,       7,      8,       12,
                                          16,  24,   28,   29,   31,    32,     33,      44,     48,      60,
                                          64,  100,  127,  128,  255,   256,    720,     1280,   1281,    4095,
                                          4096, 65535, 65536, INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1, -100000};
        if (chance(200)) return static_cast<int>(rng_());
        if (chance(200)) return static_cast<int>(pick(2048)) - 1024;
        return kValues[pick(std::size(kValues))];
    }
    // Wait times and recording lengths: long ones only now and then.
    int duration() {
        if (chance(20)) return integer();
        return static_cast<int>(pick(1200)) - 100;
    }
    // Window positions and sizes.
    int geometry() { return integer(); }
    int* int_out() { return chance(100) ? nullptr : &int_slot_; }
    unsigned char* byte_out() { return &byte_slot_; }
    void* scratch() { return scratch_; }
    template <typename T>
    T* maybe(T* p) {
        return chance(100) ? nullptr : p;
    }
    char (*narrow_list())[256] { return chance(100) ? nullptr : narrow_list_; }
    char16_t (*wide_list())[256] { return chance(100) ? nullptr : wide_list_; }
    Text text() {
        const bool none = chance(100);
        static constexpr int kSizes[] = {0, 1, 2, 5, 16, 255, 256, -1, INT_MIN};
        const int size = kSizes[pick(std::size(kSizes))];
        return {none ? nullptr : narrow_, none ? nullptr : wide_, size};
    }
    Image image() {
        const std::uint32_t r = pick(10);
        if (r == 0) return {nullptr, integer()};
        if (r == 1) {
            static constexpr int kSmall[] = {0, 1, 15, 16, -1, INT_MIN};
            return {scratch_, kSmall[pick(std::size(kSmall))]};
        }
        const int sizes[] = {static_cast<int>(kFrameBytes), 1280 * 720, 1280 * 720 * 3, 1280 * 720 * 4,
                             1280 * 720 * 6, 1000, 0, -5};
        return {frame_.get(), sizes[pick(std::size(sizes))]};
    }
    const char* file_name() {
        const std::uint32_t r = pick(static_cast<std::uint32_t>(g_world.names.size()) + 1);
        return r == 0 ? nullptr : g_world.names[r - 1].c_str();
    }
    const char16_t* wide_file_name() {
        const std::uint32_t r = pick(static_cast<std::uint32_t>(g_world.wide_names.size()) + 1);
        return r == 0 ? nullptr : g_world.wide_names[r - 1].c_str();
    }

    // A new session in a random place; the one it replaces is released.
    void adopt(ZbxHandle h) {
        if (h == 0) return;
        retire(g_world.sessions[pick(kSessions)].exchange(h));
    }
    // Releases `h`, which the other thread may be using, and opens a new
    // session in its place when it was one of the open ones.
    void release(ZbxHandle h) {
        for (auto& slot : g_world.sessions) {
            ZbxHandle expected = h;
            if (h != 0 && slot.compare_exchange_strong(expected, 0)) {
                retire(h);
                ZbxHandle fresh = Zorbex_Initialize(window());
                expected = 0;
                if (!slot.compare_exchange_strong(expected, fresh)) retire(fresh);
                return;
            }
        }
        (void)Zorbex_Release(h);  // stale, random or 0
    }

    ZbxCameraInfo info{};

private:
    void retire(ZbxHandle h) {
        if (h == 0) return;
        (void)Zorbex_Release(h);
        g_world.stale = h;
    }

    std::mt19937_64 rng_;
    std::unique_ptr<std::uint8_t[]> frame_;
    std::uint8_t scratch_[64] = {};
    int int_slot_ = 0;
    unsigned char byte_slot_ = 0;
    char narrow_list_[32][256] = {};
    char16_t wide_list_[32][256] = {};
    char narrow_[256] = {};
    char16_t wide_[256] = {};
};

struct Export {
    const char* name;
    bool heavy;  // slow or stateful: called less often
    void (*call)(Args&);
};

const Export kExports[] = {
    {"Zorbex_GetDllVersion", false, []([[maybe_unused]] Args& g) { (void)Zorbex_GetDllVersion(); }},
    {"Zorbex_Initialize", true, [](Args& g) {ZbxWindow w = g.window(); g.adopt(Zorbex_Initialize(w)); }},
    {"Zorbex_Release", true, [](Args& g) {const ZbxHandle h = g.handle(); g.release(h); }},
    {"Zorbex_GetLastError", false, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_GetLastError(h); }},
    {"Zorbex_GetStatus", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_GetStatus(h, a1); }},
    {"Zorbex_EnumDevice", true, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.narrow_list(); (void)Zorbex_EnumDevice(h, a1); }},
    {"Zorbex_EnumDeviceW", true, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.wide_list(); (void)Zorbex_EnumDeviceW(h, a1); }},
    {"Zorbex_GetDeviceName", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto text = g.text(); const auto a1 = g.integer(); (void)Zorbex_GetDeviceName(h, a1, text.narrow, text.size); }},
    {"Zorbex_GetDeviceNameW", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto text = g.text(); const auto a1 = g.integer(); (void)Zorbex_GetDeviceNameW(h, a1, text.wide, text.size); }},
    {"Zorbex_SetDeviceNumber", true, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetDeviceNumber(h, a1); }},
    {"Zorbex_GetCameraInfo", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.maybe(&g.info); (void)Zorbex_GetCameraInfo(h, a1); }},
    {"Zorbex_SetColorMode", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetColorMode(h, a1); }},
    {"Zorbex_GetColorMode", false, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_GetColorMode(h); }},
    {"Zorbex_SetSubSample", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetSubSample(h, a1); }},
    {"Zorbex_GetSubSample", false, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_GetSubSample(h); }},
    {"Zorbex_SetWaitTime", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.duration(); (void)Zorbex_SetWaitTime(h, a1); }},
    {"Zorbex_GetWaitTime", false, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_GetWaitTime(h); }},
    {"Zorbex_Width", false, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_Width(h); }},
    {"Zorbex_Height", false, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_Height(h); }},
    {"Zorbex_GetVideoFormat", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetVideoFormat(h, a1); }},
    {"Zorbex_GetSamplingRate", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetSamplingRate(h, a1); }},
    {"Zorbex_SetCaptureWindow", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.geometry(); const auto a2 = g.geometry(); (void)Zorbex_SetCaptureWindow(h, a1, a2); }},
    {"Zorbex_SetCaptureWindowEx", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.geometry(); const auto a2 = g.geometry(); const auto a3 = g.geometry(); const auto a4 = g.geometry(); const auto a5 = g.geometry(); const auto a6 = g.geometry(); (void)Zorbex_SetCaptureWindowEx(h, a1, a2, a3, a4, a5, a6); }},
    {"Zorbex_GetCaptureWindowEx", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); const auto a2 = g.int_out(); const auto a3 = g.int_out(); const auto a4 = g.int_out(); const auto a5 = g.int_out(); const auto a6 = g.int_out(); (void)Zorbex_GetCaptureWindowEx(h, a1, a2, a3, a4, a5, a6); }},
    {"Zorbex_SetMirrorH", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetMirrorH(h, a1); }},
    {"Zorbex_SetMirrorV", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetMirrorV(h, a1); }},
    {"Zorbex_GetMirrorH", false, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_GetMirrorH(h); }},
    {"Zorbex_GetMirrorV", false, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_GetMirrorV(h); }},
    {"Zorbex_ReadRegister", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); const auto a2 = g.int_out(); (void)Zorbex_ReadRegister(h, a1, a2); }},
    {"Zorbex_ReadRegisterEx", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); const auto a2 = g.int_out(); (void)Zorbex_ReadRegisterEx(h, a1, a2); }},
    {"Zorbex_WriteRegister", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); const auto a2 = g.integer(); (void)Zorbex_WriteRegister(h, a1, a2); }},
    {"Zorbex_WriteRegisterEx", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); const auto a2 = g.integer(); (void)Zorbex_WriteRegisterEx(h, a1, a2); }},
    {"Zorbex_ReadSromID", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); const auto a2 = g.int_out(); (void)Zorbex_ReadSromID(h, a1, a2); }},
    {"Zorbex_WriteSromID", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); const auto a2 = g.integer(); (void)Zorbex_WriteSromID(h, a1, a2); }},
    {"Zorbex_GetIOPort", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.maybe(g.byte_out()); const auto a2 = g.maybe(g.scratch()); const auto a3 = g.integer(); (void)Zorbex_GetIOPort(h, a1, a2, a3); }},
    {"Zorbex_SetIOPort", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetIOPort(h, a1); }},
    {"Zorbex_Capture", true, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_Capture(h); }},
    {"Zorbex_SnapShot", true, [](Args& g) {const ZbxHandle h = g.handle(); const auto image = g.image(); const auto a3 = g.integer(); (void)Zorbex_SnapShot(h, image.data, image.length, a3); }},
    {"Zorbex_Trigger", true, [](Args& g) {const ZbxHandle h = g.handle(); ZbxWindow w = g.window(); const auto image = g.image(); const auto a4 = g.integer(); (void)Zorbex_Trigger(h, w, image.data, image.length, a4); }},
    {"Zorbex_Preview", true, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_Preview(h); }},
    {"Zorbex_CallBackPreview", true, [](Args& g) {const ZbxHandle h = g.handle(); ZbxWindow w = g.window(); const auto image = g.image(); const auto a4 = g.integer(); (void)Zorbex_CallBackPreview(h, w, image.data, image.length, a4); }},
    {"Zorbex_StartPreview", true, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_StartPreview(h); }},
    {"Zorbex_StopPreview", true, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_StopPreview(h); }},
    {"Zorbex_Close", true, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_Close(h); }},
    {"Zorbex_SetPreviewWindow", true, [](Args& g) {const ZbxHandle h = g.handle(); ZbxWindow w = g.window(); const auto a2 = g.geometry(); const auto a3 = g.geometry(); const auto a4 = g.geometry(); const auto a5 = g.geometry(); (void)Zorbex_SetPreviewWindow(h, w, a2, a3, a4, a5); }},
    {"Zorbex_GetImage", true, [](Args& g) {const ZbxHandle h = g.handle(); const auto image = g.image(); const auto a3 = g.integer(); (void)Zorbex_GetImage(h, image.data, image.length, a3); }},
    {"Zorbex_SaveImage", true, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.file_name(); const auto a2 = g.integer(); (void)Zorbex_SaveImage(h, a1, a2); }},
    {"Zorbex_SaveImageW", true, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.wide_file_name(); const auto a2 = g.integer(); (void)Zorbex_SaveImageW(h, a1, a2); }},
    {"Zorbex_Record", true, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.file_name(); const auto a2 = g.duration(); const auto a3 = g.integer(); (void)Zorbex_Record(h, a1, a2, a3); }},
    {"Zorbex_RecordW", true, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.wide_file_name(); const auto a2 = g.duration(); const auto a3 = g.integer(); (void)Zorbex_RecordW(h, a1, a2, a3); }},
    {"Zorbex_LoadConfigFileA", true, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.file_name(); (void)Zorbex_LoadConfigFileA(h, a1); }},
    {"Zorbex_LoadConfigFileW", true, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.wide_file_name(); (void)Zorbex_LoadConfigFileW(h, a1); }},
    {"Zorbex_SetAnalogDlg", true, [](Args& g) {const ZbxHandle h = g.handle(); ZbxWindow w = g.window(); (void)Zorbex_SetAnalogDlg(h, w); }},
    {"Zorbex_SetImageDlg", true, [](Args& g) {const ZbxHandle h = g.handle(); ZbxWindow w = g.window(); (void)Zorbex_SetImageDlg(h, w); }},
    {"Zorbex_SetCameraDlg", true, [](Args& g) {const ZbxHandle h = g.handle(); ZbxWindow w = g.window(); (void)Zorbex_SetCameraDlg(h, w); }},
    {"Zorbex_GetFilterValue", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); const auto a2 = g.int_out(); (void)Zorbex_GetFilterValue(h, a1, a2); }},
    {"Zorbex_SetFilterValue", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); const auto a2 = g.integer(); (void)Zorbex_SetFilterValue(h, a1, a2); }},
    {"Zorbex_GetBrightness", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetBrightness(h, a1); }},
    {"Zorbex_SetBrightness", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetBrightness(h, a1); }},
    {"Zorbex_GetContrast", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetContrast(h, a1); }},
    {"Zorbex_SetContrast", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetContrast(h, a1); }},
    {"Zorbex_GetHue", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetHue(h, a1); }},
    {"Zorbex_SetHue", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetHue(h, a1); }},
    {"Zorbex_GetSaturation", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetSaturation(h, a1); }},
    {"Zorbex_SetSaturation", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetSaturation(h, a1); }},
    {"Zorbex_GetSharpness", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetSharpness(h, a1); }},
    {"Zorbex_SetSharpness", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetSharpness(h, a1); }},
    {"Zorbex_GetBayerGainRGB", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetBayerGainRGB(h, a1); }},
    {"Zorbex_SetBayerGainRGB", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetBayerGainRGB(h, a1); }},
    {"Zorbex_GetBayerGainRed", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetBayerGainRed(h, a1); }},
    {"Zorbex_SetBayerGainRed", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetBayerGainRed(h, a1); }},
    {"Zorbex_GetBayerGainGreen", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetBayerGainGreen(h, a1); }},
    {"Zorbex_SetBayerGainGreen", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetBayerGainGreen(h, a1); }},
    {"Zorbex_GetBayerGainBlue", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetBayerGainBlue(h, a1); }},
    {"Zorbex_SetBayerGainBlue", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetBayerGainBlue(h, a1); }},
    {"Zorbex_GetBayerGainAuto", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetBayerGainAuto(h, a1); }},
    {"Zorbex_SetBayerGainAuto", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetBayerGainAuto(h, a1); }},
    {"Zorbex_GetGamma", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetGamma(h, a1); }},
    {"Zorbex_SetGamma", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetGamma(h, a1); }},
    {"Zorbex_GetBayerMode", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetBayerMode(h, a1); }},
    {"Zorbex_SetBayerMode", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetBayerMode(h, a1); }},
    {"Zorbex_GetGlobalGain", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetGlobalGain(h, a1); }},
    {"Zorbex_SetGlobalGain", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetGlobalGain(h, a1); }},
    {"Zorbex_GetColorGainRed", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetColorGainRed(h, a1); }},
    {"Zorbex_SetColorGainRed", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetColorGainRed(h, a1); }},
    {"Zorbex_GetColorGainGreen1", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetColorGainGreen1(h, a1); }},
    {"Zorbex_SetColorGainGreen1", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetColorGainGreen1(h, a1); }},
    {"Zorbex_GetColorGainGreen2", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetColorGainGreen2(h, a1); }},
    {"Zorbex_SetColorGainGreen2", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetColorGainGreen2(h, a1); }},
    {"Zorbex_GetColorGainBlue", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetColorGainBlue(h, a1); }},
    {"Zorbex_SetColorGainBlue", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetColorGainBlue(h, a1); }},
    {"Zorbex_GetExposureTime", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetExposureTime(h, a1); }},
    {"Zorbex_SetExposureTime", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetExposureTime(h, a1); }},
    {"Zorbex_GetGrayMode", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetGrayMode(h, a1); }},
    {"Zorbex_SetGrayMode", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetGrayMode(h, a1); }},
    {"Zorbex_GetGrayGainR", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetGrayGainR(h, a1); }},
    {"Zorbex_SetGrayGainR", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetGrayGainR(h, a1); }},
    {"Zorbex_GetGrayGainG1", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetGrayGainG1(h, a1); }},
    {"Zorbex_SetGrayGainG1", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetGrayGainG1(h, a1); }},
    {"Zorbex_GetGrayGainG2", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetGrayGainG2(h, a1); }},
    {"Zorbex_SetGrayGainG2", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetGrayGainG2(h, a1); }},
    {"Zorbex_GetGrayGainB", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetGrayGainB(h, a1); }},
    {"Zorbex_SetGrayGainB", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetGrayGainB(h, a1); }},
    {"Zorbex_GetGrayOffsetR", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetGrayOffsetR(h, a1); }},
    {"Zorbex_SetGrayOffsetR", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetGrayOffsetR(h, a1); }},
    {"Zorbex_GetGrayOffsetG1", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetGrayOffsetG1(h, a1); }},
    {"Zorbex_SetGrayOffsetG1", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetGrayOffsetG1(h, a1); }},
    {"Zorbex_GetGrayOffsetG2", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetGrayOffsetG2(h, a1); }},
    {"Zorbex_SetGrayOffsetG2", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetGrayOffsetG2(h, a1); }},
    {"Zorbex_GetGrayOffsetB", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetGrayOffsetB(h, a1); }},
    {"Zorbex_SetGrayOffsetB", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetGrayOffsetB(h, a1); }},
    {"Zorbex_SetConfigFilter", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetConfigFilter(h, a1); }},
    {"Zorbex_GetConfigFilter", false, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_GetConfigFilter(h); }},
    {"Zorbex_SetAutoIris", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetAutoIris(h, a1); }},
    {"Zorbex_GetAutoIris", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetAutoIris(h, a1); }},
    {"Zorbex_SetRealExposureTime", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetRealExposureTime(h, a1); }},
    {"Zorbex_GetRealExposureTime", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.int_out(); (void)Zorbex_GetRealExposureTime(h, a1); }},
    {"Zorbex_Fpga_ReadRegister", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); const auto a2 = g.int_out(); (void)Zorbex_Fpga_ReadRegister(h, a1, a2); }},
    {"Zorbex_Fpga_WriteRegister", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); const auto a2 = g.integer(); (void)Zorbex_Fpga_WriteRegister(h, a1, a2); }},
    {"Zorbex_Fps", false, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_Fps(h); }},
    {"Zorbex_GetHalfClock", false, [](Args& g) {const ZbxHandle h = g.handle(); (void)Zorbex_GetHalfClock(h); }},
    {"Zorbex_SetHalfClock", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetHalfClock(h, a1); }},
    {"Zorbex_SetCrossbar", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); const auto a2 = g.integer(); (void)Zorbex_SetCrossbar(h, a1, a2); }},
    {"Zorbex_SetSamplingRate", false, [](Args& g) {const ZbxHandle h = g.handle(); const auto a1 = g.integer(); (void)Zorbex_SetSamplingRate(h, a1); }},
};
constexpr std::size_t kExportCount = std::size(kExports);
static_assert(kExportCount == 124, "every export of zorbex.h");

// Frame queues: a few handles shared by the threads (open, closed, or
// never valid), frames taken and given back, twice or not at all.
constexpr int kStreams = 3;
struct Streams {
    std::array<std::atomic<ZbxStream*>, kStreams> open{};
    std::atomic<ZbxStream*> closed{nullptr};
    std::mutex frames_lock;
    std::vector<std::pair<ZbxStream*, const ZbxFrame*>> frames;  // taken, maybe released since
};
Streams g_streams;

// Memory lent to queues: the library may write it until the process ends
// its sessions, so it lives as long as the process.
std::uint8_t* lent_memory(std::size_t* size) {
    static const std::size_t bytes = kFrameBytes + 64;
    static auto* arena = new std::uint8_t[8 * bytes];
    static std::atomic<unsigned> next{0};
    *size = bytes;
    return arena + (next.fetch_add(1) % 8) * bytes;
}

void stream_call(Args& g) {
    ZbxStream* s = g.chance(800) ? g_streams.open[g.pick(kStreams)].load()
                   : g.chance(500)  ? g_streams.closed.load()
                                    : reinterpret_cast<ZbxStream*>(static_cast<std::uintptr_t>(g.integer()));
    switch (g.pick(12)) {
        case 0: {
            ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT;
            config.buffer_count = g.chance(100) ? static_cast<std::uint32_t>(g.integer()) : g.pick(6);
            config.delivery = g.pick(3);
            config.output = g.pick(3);
            config.trigger = g.pick(2);
            if (g.chance(50)) config.struct_size = static_cast<std::uint32_t>(g.integer());
            ZbxStream* fresh = nullptr;
            if (ZbxStream_Open(g.handle(), g.maybe(&config), &fresh) == ZBX_OK) {
                ZbxStream* old = g_streams.open[g.pick(kStreams)].exchange(fresh);
                if (old != nullptr) {
                    (void)ZbxStream_Close(old);
                    g_streams.closed = old;
                }
            }
            break;
        }
        case 1: {
            std::size_t size = 0;
            std::uint8_t* memory = lent_memory(&size);
            const std::uint32_t r = g.pick(4);
            (void)ZbxStream_AddBuffer(s, r == 0 ? nullptr : memory + (r == 1 ? 1 : 0),
                                      r == 2 ? static_cast<std::size_t>(g.pick(4096)) : size, nullptr);
            break;
        }
        case 2: (void)ZbxStream_Start(s); break;
        case 3: (void)ZbxStream_Stop(s); break;
        case 4:
        case 5: {
            const ZbxFrame* f = nullptr;
            if (ZbxStream_Wait(s, static_cast<std::int32_t>(g.pick(30)) - 1, g.maybe(&f)) == ZBX_OK && f != nullptr) {
                // The pixels must be readable while the frame is held.
                volatile std::uint8_t sink = static_cast<const std::uint8_t*>(f->data)[f->size - 1];
                (void)sink;
                std::lock_guard lock(g_streams.frames_lock);
                g_streams.frames.emplace_back(s, f);
                if (g_streams.frames.size() > 64) g_streams.frames.erase(g_streams.frames.begin());
            }
            break;
        }
        case 6:
        case 7: {
            std::pair<ZbxStream*, const ZbxFrame*> taken{s, nullptr};
            {
                std::lock_guard lock(g_streams.frames_lock);
                if (!g_streams.frames.empty()) taken = g_streams.frames[g.pick(static_cast<std::uint32_t>(g_streams.frames.size()))];
            }
            // Released once, twice, or through another handle.
            (void)ZbxStream_Release(g.chance(900) ? taken.first : s, taken.second);
            break;
        }
        case 8: (void)(g.chance(500) ? ZbxStream_Cancel(s) : ZbxStream_Resume(s)); break;
        case 9: {
            ZbxStreamStats stats{};
            ZbxFrameFormat format{};
            (void)ZbxStream_GetStats(s, g.maybe(&stats));
            (void)ZbxStream_GetFormat(s, g.maybe(&format));
            break;
        }
        case 10: {
            std::uint64_t period = 0;
            ZbxRecordingStatus status{};
            (void)ZbxCamera_GetFramePeriod(g.handle(), g.maybe(&period));
            (void)ZbxCamera_GetRecording(g.handle(), g.maybe(&status));
            break;
        }
        case 11:
            if (g.chance(200)) {
                ZbxStream* old = g_streams.open[g.pick(kStreams)].exchange(nullptr);
                if (old != nullptr) {
                    (void)ZbxStream_Close(old);
                    g_streams.closed = old;
                }
            }
            break;
    }
}

// Camera trouble: failed, short and stalled reads, refused register
// commands, unplugs, triggers, pacing.  Faults clear themselves over time.
void camera_fault(Args& g) {
    const int slot = static_cast<int>(g.pick(3));
    switch (g.pick(9)) {
        case 0: (void)ZbxVcam_FailFrameReads(slot, static_cast<int>(g.pick(5))); break;
        case 1: (void)ZbxVcam_ShortFrameReads(slot, static_cast<int>(g.pick(5))); break;
        case 2: (void)ZbxVcam_SetRegisterFaults(slot, g.chance(500), g.chance(500)); break;
        case 3: (void)ZbxVcam_SetRegisterFaults(slot, 0, 0); break;
        case 4: (void)ZbxVcam_StopFrames(slot, g.chance(300)); break;
        case 5: (void)ZbxVcam_Unplug(slot); break;
        case 6: (void)ZbxVcam_Replug(slot); break;
        case 7: (void)ZbxVcam_FireTrigger(slot); break;
        default: (void)ZbxVcam_SetPacing(slot, g.chance(500) ? ZBX_VCAM_UNPACED : ZBX_VCAM_PACED); break;
    }
}

// Frame and error messages pile up in the windows' queues; an application
// reads them.
void drain_messages() {
    ZbxMessage message{};
    for (ZbxWindow w : g_world.windows)
        while (ZbxWin_PeekMessage(w, &message, 1) == 1) {
        }
    while (ZbxWin_PeekMessage(nullptr, &message, 1) == 1) {
    }
}

struct Options {
    std::uint64_t seed = 1;
    std::uint64_t calls = 100000;
    std::int64_t seconds = 0;  // 0: no time limit
    int threads = 2;
    bool pairs = false;
};

std::atomic<std::uint64_t> g_calls{0};
std::atomic<bool> g_stop{false};
std::array<std::atomic<std::uint64_t>, kExportCount> g_counts{};
// Concurrent-pairs mode: both threads pass it before each call.
std::unique_ptr<std::barrier<>> g_pair_start;

// `g` outlives the sessions: the cameras may still write frames into the
// caller buffers it handed out until the sessions are released.
void worker(int id, Args& g, const Options& options, Running& running) {
    std::uint64_t index = 0;
    while (!g_stop) {
        const std::uint64_t total = g_calls.fetch_add(1);
        if (total >= options.calls) break;
        ++index;
        if (g.chance(5)) camera_fault(g);
        if (g.chance(60)) stream_call(g);
        if (index % 256 == 0 && id == 0) drain_messages();
        std::size_t which = g.pick(kExportCount);
        // Slow exports: one pick in thirty stays.  Pairs, whose faults lie
        // between the stateful exports, pick among those half of the time.
        if (options.pairs && g.chance(500)) {
            while (!kExports[which].heavy) which = g.pick(kExportCount);
        } else {
            while (kExports[which].heavy && !g.chance(33)) which = g.pick(kExportCount);
        }
        if (g_pair_start) g_pair_start->arrive_and_wait();
        running.name = kExports[which].name;
        running.index = index;
        running.since = now_ms();
        kExports[which].call(g);
        running.since = 0;
        g_counts[which].fetch_add(1, std::memory_order_relaxed);
    }
    // The other thread no longer waits for this one.
    if (g_pair_start) g_pair_start->arrive_and_drop();
}

void make_world() {
    char pattern[] = "/tmp/zbx-fuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    g_world.dir = pattern;
    const fs::path& d = g_world.dir;
    if (::mkfifo((d / "fifo").c_str(), 0600) != 0) std::abort();
    std::ofstream(d / "defects.bin", std::ios::binary) << std::string(24, '\x05');
    std::ofstream(d / "odd.bin", std::ios::binary) << std::string(13, '\x7F');
    for (const char* leaf : {"a.bmp", "b.png", "c.jpg", "d.tif", "e.raw", "f.avi", "fifo", "defects.bin",
                             "odd.bin", "missing/x.bmp", ""})
        g_world.names.push_back((d / leaf).string());
    for (const char* other : {"", "/dev/null", "/dev/zero", "/proc/self/status"}) g_world.names.push_back(other);
    g_world.names.push_back(std::string(2000, 'n'));
    g_world.names.push_back((d / std::string(300, 'l')).string());
    for (const std::string& name : g_world.names)
        g_world.wide_names.emplace_back(name.begin(), name.end());
    g_world.wide_names.push_back(u"\xD800 unpaired");
    g_world.wide_names.push_back(std::u16string(1100, u'\u3042'));
    for (int i = 0; i < 3; ++i) g_world.windows.push_back(ZbxWin_CreateMessageWindow());
    g_world.windows.push_back(ZbxWin_CreateWindow(nullptr, 0, 0, 320, 240, 1));
    g_world.windows.push_back(ZbxWin_CreateWindow(g_world.windows.back(), 10, 10, 100, 80, 1));
    (void)ZbxVcam_SetSlots(0x7);
    for (auto& slot : g_world.sessions) slot = Zorbex_Initialize(g_world.windows[0]);
}

void end_world() {
    // Frames still held when a queue closes stay valid until released.
    for (auto& slot : g_streams.open)
        if (ZbxStream* s = slot.exchange(nullptr)) (void)ZbxStream_Close(s);
    for (const auto& [stream, frame] : g_streams.frames) (void)ZbxStream_Release(stream, frame);
    for (auto& slot : g_world.sessions) (void)Zorbex_Release(slot.exchange(0));
    drain_messages();
    for (auto it = g_world.windows.rbegin(); it != g_world.windows.rend(); ++it) ZbxWin_DestroyWindow(*it);
    (void)ZbxVcam_Reset();
    std::error_code ec;
    fs::remove_all(g_world.dir, ec);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const unsigned long long value = std::strtoull(argv[i + 1], nullptr, 10);
        if (flag == "--seed") options.seed = value;
        else if (flag == "--calls") options.calls = value;
        else if (flag == "--seconds") options.seconds = static_cast<std::int64_t>(value);
        else if (flag == "--threads") options.threads = static_cast<int>(value);
        else if (flag == "--pairs") options.pairs = value != 0;
        else {
            std::fprintf(stderr, "usage: %s [--seed N] [--calls N] [--seconds N] [--threads N] [--pairs 0|1]\n",
                         argv[0]);
            return 2;
        }
    }
    if (options.seconds > 0 && options.calls == 100000) options.calls = UINT64_MAX;
    options.threads = std::max(1, std::min(options.threads, 8));
    if (options.pairs) {
        options.threads = 2;
        g_world.pairs = true;
        g_pair_start = std::make_unique<std::barrier<>>(2);
    }

    make_world();
    std::vector<Running> running(static_cast<std::size_t>(options.threads));
    const std::int64_t start = now_ms();
    std::atomic<bool> done{false};
    // The watchdog: a call that runs longer than 10 s is a hang.
    std::thread watchdog([&] {
        while (!done) {
            const std::int64_t t = now_ms();
            for (std::size_t i = 0; i < running.size(); ++i) {
                const std::int64_t since = running[i].since;
                if (since != 0 && t - since > kWatchdogMs) {
                    std::fprintf(stderr, "api_fuzz: HANG: %s did not return within %lld ms (seed %llu, thread %zu, call %llu)\n",
                                 running[i].name.load(), static_cast<long long>(kWatchdogMs),
                                 static_cast<unsigned long long>(options.seed), i,
                                 static_cast<unsigned long long>(running[i].index.load()));
                    std::fflush(stderr);
                    std::_Exit(3);
                }
            }
            if (options.seconds > 0 && t - start > options.seconds * 1000) g_stop = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    // The trigger source of the cameras: a trigger call waits for one, up to
    // a minute, as it should.
    std::thread trigger_source([&] {
        while (!done) {
            for (int slot = 0; slot < 3; ++slot) (void)ZbxVcam_FireTrigger(slot);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::vector<std::unique_ptr<Args>> arguments;
    for (int i = 0; i < options.threads; ++i)
        arguments.push_back(std::make_unique<Args>(options.seed * 1000003u + static_cast<std::uint64_t>(i)));
    std::vector<std::thread> threads;
    for (int i = 0; i < options.threads; ++i)
        threads.emplace_back(worker, i, std::ref(*arguments[static_cast<std::size_t>(i)]), std::cref(options),
                             std::ref(running[static_cast<std::size_t>(i)]));
    for (std::thread& t : threads) t.join();
    // Ending the sessions is watched too.
    running[0].name = "release at the end";
    running[0].since = now_ms();
    end_world();
    running[0].since = 0;
    done = true;
    watchdog.join();
    trigger_source.join();

    std::uint64_t total = 0;
    std::size_t reached = 0;
    for (std::size_t i = 0; i < kExportCount; ++i) {
        total += g_counts[i];
        if (g_counts[i] > 0) ++reached;
    }
    std::printf("api_fuzz: seed %llu, %llu calls on %d threads%s in %.1f s, %zu of %zu exports reached\n",
                static_cast<unsigned long long>(options.seed), static_cast<unsigned long long>(total),
                options.threads, options.pairs ? " (pairs on one session)" : "", static_cast<double>(now_ms() - start) / 1000.0, reached, kExportCount);
    return 0;
}
