// The development steps built beside this folder's own kernels: defect
// correction, monochrome gain/offset correction and its measurement, and the
// colour and tone adjustments.  Development calls them when their headers
// are part of the tree; until then kDevelopStepsLinked is false and those
// call points are compiled out (the steps are skipped).
#pragma once

#include <cstddef>

#if __has_include("pipeline/adjust.h") && __has_include("pipeline/mono_correction.h") && \
    __has_include("pipeline/defect_correction.h")
#include "pipeline/adjust.h"
#include "pipeline/defect_correction.h"
#include "pipeline/mono_correction.h"
#define ZBX_DEVELOP_STEPS_LINKED 1
#else
#define ZBX_DEVELOP_STEPS_LINKED 0
#endif

namespace zbx::pipeline {

inline constexpr bool kDevelopStepsLinked = ZBX_DEVELOP_STEPS_LINKED != 0;

// A defect position (x, y) in full-sensor coordinates; defined with the
// defect correction.
struct DefectPosition;

// The session's defect list, borrowed while its lock is held.
struct DefectListView {
    const DefectPosition* data = nullptr;
    std::size_t size = 0;
};

}  // namespace zbx::pipeline
