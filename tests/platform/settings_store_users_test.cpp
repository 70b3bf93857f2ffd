// The settings folder facing another local user (run as root, with
// children changed to uids 65534 and 65533): a user without a home falls
// back to a predictable folder in /tmp, which another user may have made
// first, filled with values and whose lock they may hold for ever.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/settings_store.h"
#include "support/temp_dir.h"
#include "support/child_process.h"
#include "support/process_lock.h"

namespace zbx::platform {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kAttacker = 65534;
constexpr uid_t kVictim = 65533;  // no passwd entry, so no home folder

bool become(uid_t uid) { return ::setgid(uid) == 0 && ::setuid(uid) == 0; }

// The victim's view: the per-user default folder, no home, no runtime
// directory unless given.
void as_homeless_victim(const char* runtime_dir) {
    set_settings_root({});
    ::unsetenv("HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    if (runtime_dir != nullptr) {
        ::setenv("XDG_RUNTIME_DIR", runtime_dir, 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}

class ForeignSettingsFolder : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to act as two users (children change to uids 65534 and 65533)";
        fs::remove_all(planted_);
    }
    void TearDown() override { fs::remove_all(planted_); }
    zbx::test::ProcessLock other_users_{"zbx-test-other-users"};
    const fs::path planted_ = "/tmp/zorbex-sdk-" + std::to_string(kVictim);
};

TEST_F(ForeignSettingsFolder, PlantedValuesAreNotReadAndItsLockDoesNotHang) {
    int ready[2];
    int done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t attacker = ::fork();
    ASSERT_GE(attacker, 0);
    if (attacker == 0) {
        // Another user makes the folder first, with values and a held lock,
        // all open to everyone.
        ::close(ready[0]);
        ::close(done[1]);
        if (!become(kAttacker)) ::_exit(10);
        ::umask(0);
        if (::mkdir(planted_.c_str(), 0755) != 0) ::_exit(11);
        set_settings_root(planted_);
        SettingsKey key;
        if (!key.create("Planted") || !key.write_dword("Value", 666)) ::_exit(12);
        ::chmod(planted_.c_str(), 0777);
        ::chmod((planted_ / "settings.reg").c_str(), 0666);
        const int lock = ::open((planted_ / "settings.reg.lock").c_str(), O_RDWR | O_CREAT, 0666);
        if (lock < 0 || ::fchmod(lock, 0666) != 0 || ::flock(lock, LOCK_EX) != 0) ::_exit(13);
        if (::write(ready[1], "r", 1) != 1) ::_exit(14);
        char c;
        (void)!::read(done[0], &c, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(done[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);

    const int result = zbx::test::run_in_child_bounded([&] {
        if (!become(kVictim)) return 20;
        as_homeless_victim(nullptr);
        if (settings_file_path() != planted_ / "settings.reg") return 21;
        SettingsKey key;
        if (key.open("Planted")) return 22;             // another user's values
        if (key.create("Mine")) return 23;              // would share their folder
        return 0;
    });
    ::close(done[1]);
    ::close(ready[0]);
    ::waitpid(attacker, nullptr, 0);
    EXPECT_NE(result, -2) << "hung on the planted lock";
    EXPECT_EQ(result, 0);
}

TEST_F(ForeignSettingsFolder, APrivateRuntimeDirectoryIsPreferred) {
    test::TempDir runtime("zbxtest-runtime-");
    ASSERT_EQ(::chown(runtime.path().c_str(), kVictim, kVictim), 0);
    ASSERT_EQ(::chmod(runtime.path().c_str(), 0700), 0);
    const int result = zbx::test::run_in_child_bounded([&] {
        if (!become(kVictim)) return 30;
        as_homeless_victim(runtime.path().c_str());
        if (settings_file_path() != runtime / "zorbex-sdk" / "settings.reg") return 31;
        SettingsKey key;
        if (!key.create("Mine") || !key.write_dword("Value", 1)) return 32;
        return fs::exists(runtime / "zorbex-sdk" / "settings.reg") ? 0 : 33;
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(fs::exists(planted_));
}

// A folder of ours that others could write in (a loose umask) is closed
// before it is used.
TEST(SettingsFolderModes, AFolderOpenToOthersIsClosedFirst) {
    test::TempDir root("zbxtest-loose-");
    ASSERT_EQ(::chmod(root.path().c_str(), 0777), 0);
    const fs::path previous = settings_file_path().parent_path();
    set_settings_root(root.path());
    SettingsKey key;
    EXPECT_TRUE(key.create("Camera_00"));
    set_settings_root(previous);
    struct stat st{};
    ASSERT_EQ(::stat(root.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 022, 0u);
}

}  // namespace
}  // namespace zbx::platform
