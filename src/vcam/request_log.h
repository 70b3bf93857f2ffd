// Fixed-capacity log of the requests one camera received, oldest first.
// Storage is allocated once, so logging a frame read never allocates.
#pragma once

#include <cstdint>
#include <vector>

#include "zorbex/vcam.h"

namespace zbx::vcam {

class RequestLog {
public:
    RequestLog() : entries_(ZBX_VCAM_LOG_CAPACITY) {}

    void add(const ZbxVcamRequest& entry) {
        entries_[(first_ + count_) % entries_.size()] = entry;
        if (count_ < entries_.size())
            ++count_;
        else {
            first_ = (first_ + 1) % entries_.size();
            ++dropped_;
        }
    }
    std::uint32_t count() const { return static_cast<std::uint32_t>(count_); }
    const ZbxVcamRequest& at(std::uint32_t index) const { return entries_[(first_ + index) % entries_.size()]; }
    std::uint64_t dropped() const { return dropped_; }
    void clear() {
        first_ = count_ = 0;
        dropped_ = 0;
    }

private:
    std::vector<ZbxVcamRequest> entries_;
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    std::uint64_t dropped_ = 0;
};

}  // namespace zbx::vcam
