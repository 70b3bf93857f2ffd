// zorbexsrc: a live GStreamer source for the Zorbex 530RD-NQT camera, built
// on the library's public C interface only.
#pragma once

#include <gst/base/gstpushsrc.h>

G_BEGIN_DECLS

#define GST_TYPE_ZORBEX_SRC (gst_zorbex_src_get_type())
G_DECLARE_FINAL_TYPE(GstZorbexSrc, gst_zorbex_src, GST, ZORBEX_SRC, GstPushSrc)

GST_ELEMENT_REGISTER_DECLARE(zorbexsrc);

G_END_DECLS
