// The loadable module's descriptor; GStreamer finds the plugin by it.
#include "plugin.h"

#define PACKAGE "ZorbexSdk"

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, zorbex, "Zorbex 530RD-NQT camera source",
                  zorbex_plugin_init, ZBX_GST_VERSION, "Proprietary", "ZorbexSdk",
                  "Unknown package origin")
