// Frame delivery of zorbexsrc: waiting for the library's frame messages on
// the streaming thread and turning each frame into an outgoing buffer,
// numbered, timestamped and counted.
#pragma once

#include <gst/gst.h>

#include "gstzorbexsrc.h"

namespace zbx::gst {

// The next buffer, or GST_FLOW_FLUSHING when unlocked, or GST_FLOW_ERROR
// after posting the error.  Streaming thread.
GstFlowReturn deliver_frame(GstZorbexSrc* self, GstBuffer** out);

// Lets go of the buffer the library copies into; only once the library no
// longer writes it (acquisition stopped, or another buffer or none handed
// over).
void release_target(GstZorbexSrc* self);

}  // namespace zbx::gst
