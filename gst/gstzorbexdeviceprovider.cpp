#include "gstzorbexdeviceprovider.h"

#include <array>
#include <string>
#include <vector>

#include "zorbex/window.h"
#include "zorbex/zorbex.h"
#include "zorbex_format.h"

GST_DEBUG_CATEGORY_STATIC(gst_zorbex_device_provider_debug);
#define GST_CAT_DEFAULT gst_zorbex_device_provider_debug

struct _GstZorbexDeviceProvider {
    GstDeviceProvider parent;
};

struct _GstZorbexDevice {
    GstDevice parent;
    gint number;
};

G_DEFINE_TYPE(GstZorbexDeviceProvider, gst_zorbex_device_provider, GST_TYPE_DEVICE_PROVIDER);
G_DEFINE_TYPE(GstZorbexDevice, gst_zorbex_device, GST_TYPE_DEVICE);
GST_DEVICE_PROVIDER_REGISTER_DEFINE(zorbexdeviceprovider, "zorbexdeviceprovider", GST_RANK_PRIMARY,
                                    GST_TYPE_ZORBEX_DEVICE_PROVIDER);

namespace {

constexpr int kSlots = 32;

// What zorbexsrc offers before it runs: every format at every window size
// the sensor reads out; the rate follows from the window and exposure.
GstCaps* camera_caps() {
    GstCaps* caps = gst_caps_new_empty();
    for (int bits : zbx::gst::kColourModeBits) {
        if (bits == 48) continue;  // the same format as 64
        caps = gst_caps_merge_structure(
            caps, gst_structure_new("video/x-raw", "format", G_TYPE_STRING,
                                    gst_video_format_to_string(zbx::gst::format_of_mode(bits)), "width",
                                    GST_TYPE_INT_RANGE, 4, 1280, "height", GST_TYPE_INT_RANGE, 1, 720, "framerate",
                                    GST_TYPE_FRACTION_RANGE, 0, 1, G_MAXINT, 1, "pixel-aspect-ratio",
                                    GST_TYPE_FRACTION, 1, 1, nullptr));
    }
    return caps;
}

// The library tells that another session streams from a camera only by
// refusing to start one: a single frame is asked for, and the reason for a
// refusal read from the session's notification window.
bool in_use(int number) {
    const ZbxWindow window = ZbxWin_CreateMessageWindow();
    const ZbxHandle h = Zorbex_Initialize(window);
    bool busy = false;
    if (h != 0 && Zorbex_SetDeviceNumber(h, number) != 0) {
        (void)Zorbex_SetPreviewWindow(h, nullptr, 0, 0, 0, 0);
        if (Zorbex_SnapShot(h, nullptr, 0, 1) == 0) {
            ZbxMessage m{};
            while (window != nullptr && ZbxWin_PeekMessage(window, &m, 1) != 0)
                busy = busy || (m.message == ZBX_MSG_ERROR && m.lparam == ZBX_ERR_DEVICE_UNAVAILABLE);
        }
    }
    if (h != 0) (void)Zorbex_Release(h);
    if (window != nullptr) (void)ZbxWin_DestroyWindow(window);
    return busy;
}

GstDevice* make_device(int number, const char* name, bool busy) {
    GstStructure* props = gst_structure_new("zorbex-proplist", "device.api", G_TYPE_STRING, "zorbex",
                                            "device.number", G_TYPE_INT, number, "device.name", G_TYPE_STRING,
                                            name, "device.in-use", G_TYPE_BOOLEAN, busy ? TRUE : FALSE, nullptr);
    gchar* display = g_strdup_printf("Zorbex 530RD-NQT camera %d (%s)%s", number, name, busy ? ", in use" : "");
    GstCaps* caps = camera_caps();
    auto* device = static_cast<GstZorbexDevice*>(g_object_new(GST_TYPE_ZORBEX_DEVICE, "display-name", display,
                                                               "device-class", "Video/Source", "caps", caps,
                                                               "properties", props, nullptr));
    device->number = number;
    gst_caps_unref(caps);
    gst_structure_free(props);
    g_free(display);
    return GST_DEVICE(device);
}

GList* provider_probe(GstDeviceProvider*) {
    const ZbxHandle h = Zorbex_Initialize(nullptr);
    if (h == 0) return nullptr;
    std::array<char[256], kSlots> names{};
    std::vector<std::pair<int, std::string>> cameras;
    if (Zorbex_EnumDevice(h, names.data()) > 0) {
        for (int slot = 0; slot < kSlots; ++slot) {
            std::array<char, 256> name{};
            if (Zorbex_GetDeviceName(h, slot, name.data(), static_cast<int>(name.size())) != 0)
                cameras.emplace_back(slot, name.data());
        }
    }
    (void)Zorbex_Release(h);
    GList* devices = nullptr;
    for (const auto& [slot, name] : cameras) devices = g_list_append(devices, make_device(slot, name.c_str(), in_use(slot)));
    GST_DEBUG("%u cameras", g_list_length(devices));
    return devices;
}

GstElement* device_create_element(GstDevice* device, const gchar* name) {
    GstElement* element = gst_element_factory_make("zorbexsrc", name);
    if (element != nullptr) g_object_set(element, "device-number", GST_ZORBEX_DEVICE(device)->number, nullptr);
    return element;
}

}  // namespace

static void gst_zorbex_device_provider_class_init(GstZorbexDeviceProviderClass* klass) {
    GstDeviceProviderClass* provider_class = GST_DEVICE_PROVIDER_CLASS(klass);
    GST_DEBUG_CATEGORY_INIT(gst_zorbex_device_provider_debug, "zorbexdeviceprovider", 0,
                            "Zorbex camera device provider");
    provider_class->probe = provider_probe;
    gst_device_provider_class_set_static_metadata(provider_class, "Zorbex camera provider", "Video/Source",
                                                  "Lists the Zorbex 530RD-NQT cameras", "Zorbex SDK developers");
}

static void gst_zorbex_device_provider_init(GstZorbexDeviceProvider*) {}

static void gst_zorbex_device_class_init(GstZorbexDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = device_create_element;
}

static void gst_zorbex_device_init(GstZorbexDevice*) {}
