// The development steps built beside this folder's own kernels, as
// development calls them: defect correction, monochrome gain/offset
// correction and its measurement, and the colour and tone adjustments.
#pragma once

#include <cstddef>

#include "pipeline/adjust.h"
#include "pipeline/defect_correction.h"
#include "pipeline/mono_correction.h"

namespace zbx::pipeline {

// The session's defect list, borrowed while its lock is held.
struct DefectListView {
    const DefectPosition* data = nullptr;
    std::size_t size = 0;
};

}  // namespace zbx::pipeline
