#include "plugin.h"

#include "gstzorbexdeviceprovider.h"
#include "gstzorbexsrc.h"

gboolean zorbex_plugin_init(GstPlugin* plugin) {
    gboolean ok = GST_ELEMENT_REGISTER(zorbexsrc, plugin);
    ok = GST_DEVICE_PROVIDER_REGISTER(zorbexdeviceprovider, plugin) && ok;
    return ok;
}

gboolean zorbex_plugin_register_static(void) {
    GstPluginFeature* known =
        gst_registry_find_feature(gst_registry_get(), "zorbexsrc", GST_TYPE_ELEMENT_FACTORY);
    if (known != nullptr) {
        gst_object_unref(known);
        return TRUE;
    }
    return gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "zorbex",
                                      "Zorbex 530RD-NQT camera source", zorbex_plugin_init,
                                      ZBX_GST_VERSION, "Proprietary", "ZorbexSdk", "ZorbexSdk",
                                      "Unknown package origin");
}
