// Frame delivery of zorbexsrc: taking each frame from the frame queue on
// the streaming thread as an outgoing buffer, numbered, timestamped and
// counted.
#pragma once

#include <gst/gst.h>

#include "gstzorbexsrc.h"

namespace zbx::gst {

// The next buffer, or GST_FLOW_FLUSHING when unlocked, or GST_FLOW_ERROR
// after posting the error.  Streaming thread.
GstFlowReturn deliver_frame(GstZorbexSrc* self, GstBuffer** out);

}  // namespace zbx::gst
