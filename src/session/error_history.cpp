#include "session/error_history.h"

#include <algorithm>

namespace zbx::session {

void ErrorHistory::record(std::int32_t code) {
    std::lock_guard lock(mutex_);
    std::copy_backward(codes_.begin(), codes_.end() - 1, codes_.end());
    codes_[0] = code;
}

std::int32_t ErrorHistory::pop() {
    std::lock_guard lock(mutex_);
    const std::int32_t newest = codes_[0];
    std::copy(codes_.begin() + 1, codes_.end(), codes_.begin());
    codes_[kDepth - 1] = 0;
    return newest;
}

ErrorHistory::Codes ErrorHistory::snapshot() const {
    std::lock_guard lock(mutex_);
    return codes_;
}

}  // namespace zbx::session
