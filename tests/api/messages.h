// Reading what the library posts, as an application does.
#pragma once

#include <cstdint>
#include <vector>

#include "zorbex/window.h"

namespace zbx::test {

// Every message queued for `window` (the calling thread's queue for null).
inline std::vector<ZbxMessage> take_messages(ZbxWindow window) {
    std::vector<ZbxMessage> messages;
    ZbxMessage message{};
    while (ZbxWin_PeekMessage(window, &message, 1) != 0) messages.push_back(message);
    return messages;
}

// The lParam codes of the error messages among `messages`.
inline std::vector<std::intptr_t> error_codes(const std::vector<ZbxMessage>& messages) {
    std::vector<std::intptr_t> codes;
    for (const ZbxMessage& m : messages)
        if (m.message == 0x8003u && m.wparam == 0) codes.push_back(m.lparam);
    return codes;
}

}  // namespace zbx::test
