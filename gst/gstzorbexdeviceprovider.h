// zorbexdeviceprovider: lists the cameras for GStreamer's device monitor
// (gst-device-monitor-1.0 Video/Source), each with the caps zorbexsrc
// offers for it and whether another program streams from it.
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_ZORBEX_DEVICE_PROVIDER (gst_zorbex_device_provider_get_type())
G_DECLARE_FINAL_TYPE(GstZorbexDeviceProvider, gst_zorbex_device_provider, GST, ZORBEX_DEVICE_PROVIDER,
                     GstDeviceProvider)

#define GST_TYPE_ZORBEX_DEVICE (gst_zorbex_device_get_type())
G_DECLARE_FINAL_TYPE(GstZorbexDevice, gst_zorbex_device, GST, ZORBEX_DEVICE, GstDevice)

GST_DEVICE_PROVIDER_REGISTER_DECLARE(zorbexdeviceprovider);

G_END_DECLS
