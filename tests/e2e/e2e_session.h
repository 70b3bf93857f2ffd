// A session opened through the exported functions against a freshly reset
// virtual camera, with a message window of its own and a settings store
// whose library key starts out absent (a first run).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "zorbex/vcam.h"
#include "zorbex/zorbex.h"

namespace zbx::test {

inline constexpr char kLibraryKey[] = "Software\\Tevrun\\Zorbex530RDNQTSdk";

inline std::string camera_key(int device, const std::string& sub = {}) {
    char name[16];
    std::snprintf(name, sizeof name, "Camera_%02d", device);
    std::string path = std::string(kLibraryKey) + "\\" + name;
    return sub.empty() ? path : path + "\\" + sub;
}

// A 32-bit value of the settings store, or `missing` when absent.
inline std::int64_t stored_value(const std::string& key_path, const char* name, std::int64_t missing = -99999) {
    platform::SettingsKey key;
    if (!key.open(key_path)) return missing;
    std::int32_t v = 0;
    return key.read_int(name, &v) == platform::SettingsStatus::kOk ? v : missing;
}

inline void store_values(const std::string& key_path, const std::vector<platform::NamedDword>& values) {
    platform::SettingsKey key;
    ASSERT_TRUE(key.create(key_path));
    ASSERT_TRUE(key.write_dwords(values));
}

inline std::uint16_t sensor_register(int address, int slot = 0) {
    std::uint16_t v = 0;
    EXPECT_EQ(ZbxVcam_GetSensorRegister(slot, static_cast<std::uint32_t>(address), &v), ZBX_VCAM_OK);
    return v;
}

inline std::uint8_t controller_register(int number, int slot = 0) {
    std::uint8_t v = 0;
    EXPECT_EQ(ZbxVcam_GetControllerRegister(slot, static_cast<std::uint32_t>(number), &v), ZBX_VCAM_OK);
    return v;
}

// Codes posted to `window` (the calling thread's queue for null) since the
// last call.
inline std::vector<std::intptr_t> posted_errors(ZbxWindow window) {
    std::vector<std::intptr_t> codes;
    ZbxMessage m{};
    while (ZbxWin_PeekMessage(window, &m, 1) != 0)
        if (m.message == ZBX_MSG_ERROR) codes.push_back(m.lparam);
    return codes;
}

class E2eSession : public testing::Test {
protected:
    // Subclasses arrange the camera or the store first, then call open().
    void SetUp() override {
        ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
        (void)platform::delete_settings_tree(kLibraryKey);
        posted_errors(nullptr);
        window_ = ZbxWin_CreateMessageWindow();
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        close();
        ZbxWin_DestroyWindow(window_);
    }
    void open() {
        h_ = Zorbex_Initialize(window_);
        ASSERT_NE(h_, 0u);
    }
    void close() {
        if (h_ != 0) {
            EXPECT_EQ(Zorbex_Release(h_), 1);
        }
        h_ = 0;
    }
    // Every recorded code, newest first, emptying the history.
    std::vector<int> history() {
        std::vector<int> codes;
        for (int c = Zorbex_GetLastError(h_); c != 0; c = Zorbex_GetLastError(h_)) codes.push_back(c);
        return codes;
    }
    std::vector<std::intptr_t> posted() { return posted_errors(window_); }

    ZbxWindow window_ = nullptr;
    ZbxHandle h_ = 0;
};

// Opened on a first run.
class OpenSession : public E2eSession {
protected:
    void SetUp() override {
        E2eSession::SetUp();
        open();
        history();
        posted();
    }
};

}  // namespace zbx::test
