// The 20 most recent error codes of one session, newest first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace zbx::session {

// Any thread may record (application threads, the acquisition and record
// threads); the application pops.  Each operation moves the whole array as
// one step under a small lock of its own, so concurrent failures never tear
// an entry; the order of codes recorded at the same moment is not fixed.
class ErrorHistory {
public:
    static constexpr std::size_t kDepth = 20;
    using Codes = std::array<std::int32_t, kDepth>;

    // Shifts every entry one place older (the oldest is lost) and stores
    // `code` as the newest.
    void record(std::int32_t code);
    // Removes and returns the newest code; 0 when the history is empty.
    [[nodiscard]] std::int32_t pop();
    // A consistent copy, newest first.
    [[nodiscard]] Codes snapshot() const;

private:
    mutable std::mutex mutex_;
    Codes codes_{};
};

}  // namespace zbx::session
