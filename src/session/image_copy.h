// Copying a developed image into a caller's buffer, in either row order.
#pragma once

#include <cstdint>

namespace zbx::pipeline {
class CImageBuffer;
}

namespace zbx::session {

class CZorbex;

// Copies every row of `image` (stride bytes each, padding included) into
// `destination`: top row first when `copy_flag` is not 0, bottom row first
// when it is 0.  When `length` is below height x stride: message 0x8002
// with 5 to the callback window when one is set, error 5, 0.  Caller holds
// the frame lock.
int copy_image(CZorbex& session, const pipeline::CImageBuffer& image, int copy_flag, void* destination,
               std::int64_t length);

// `Zorbex_GetImage`: the current colour mode's developed image under the
// frame lock.  1 or 0.
int get_image(CZorbex& session, void* destination, int length, int copy_flag);

}  // namespace zbx::session
