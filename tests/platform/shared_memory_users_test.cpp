// Blocks and their lock facing objects that someone else put under their
// names: another local user (run as root, with children changed to uids
// 65534 and 65533), or a copy of ours open to others.  Also where blocks
// live when the user has a private runtime directory.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/shared_memory.h"
#include "support/temp_dir.h"
#include "support/child_process.h"
#include "support/process_lock.h"

namespace zbx::platform {
namespace {

constexpr uid_t kAttacker = 65534;
constexpr uid_t kVictim = 65533;
constexpr char kMarker[] = "planted by another user";

// Sets or clears an environment variable for one test.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

bool become(uid_t uid) { return ::setgid(uid) == 0 && ::setuid(uid) == 0; }

// Creates the POSIX object `name` readable and writable by everyone,
// holding `bytes` bytes that start with the marker.
int plant(const std::string& name, std::size_t bytes) {
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return -1;
    ::fchmod(fd, 0666);
    if (bytes > 0 && (::ftruncate(fd, static_cast<off_t>(bytes)) != 0 ||
                      ::pwrite(fd, kMarker, sizeof kMarker, 0) != static_cast<ssize_t>(sizeof kMarker)))
        return -1;
    return fd;
}

// Another user who planted a block and the locks (the lock of the test
// namespace and the default lock of kVictim), holds all of them locked, and
// at the end says whether anything of a victim reached the planted block.
class Attacker {
public:
    Attacker(const std::string& ns, const std::string& block)
        : names_{"/" + ns + ".lock", "/zbx-" + std::to_string(kVictim) + ".lock", "/" + ns + "." + block} {
        for (const std::string& name : names_) ::shm_unlink(name.c_str());  // planted first
        int ready[2];
        int done[2];
        if (::pipe(ready) != 0 || ::pipe(done) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(done[1]);
            if (!become(kAttacker)) ::_exit(10);
            std::vector<int> fds;
            for (std::size_t i = 0; i < names_.size(); ++i) {
                const int fd = plant(names_[i], i == 2 ? 4096 : 0);
                if (fd < 0 || ::flock(fd, i == 2 ? LOCK_SH : LOCK_EX) != 0) ::_exit(11);
                fds.push_back(fd);
            }
            if (::write(ready[1], "r", 1) != 1) ::_exit(12);
            char c;
            (void)!::read(done[0], &c, 1);
            char seen[sizeof kMarker] = {};
            if (::pread(fds[2], seen, sizeof seen, 0) != static_cast<ssize_t>(sizeof seen)) ::_exit(13);
            ::_exit(std::memcmp(seen, kMarker, sizeof kMarker) == 0 ? 0 : 14);
        }
        ::close(ready[1]);
        ::close(done[0]);
        done_ = done[1];
        char c = 0;
        ready_ = pid_ > 0 && ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
    }
    ~Attacker() {
        finish();
        for (const std::string& name : names_) ::shm_unlink(name.c_str());
    }
    Attacker(const Attacker&) = delete;
    Attacker& operator=(const Attacker&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }
    // Ends the attacker; 0 when its block is as it left it.
    int finish() {
        if (pid_ <= 0) return -1;
        ::close(done_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::vector<std::string> names_;
    pid_t pid_ = -1;
    int done_ = -1;
    bool ready_ = false;
};

class ForeignObjects : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to act as two users (children change to uids 65534 and 65533)";
    }
    zbx::test::ProcessLock other_users_{"zbx-test-other-users"};
    ScopedEnv no_runtime_dir_{"XDG_RUNTIME_DIR", nullptr};  // the /dev/shm case
};

// Root may remove what another user planted: it does, and makes its own
// private block instead, without waiting on the planted lock.
TEST_F(ForeignObjects, RootReplacesPlantedObjectsWithPrivateOnes) {
    const std::string ns = shared_memory_namespace();
    Attacker attacker(ns, "Planted");
    ASSERT_TRUE(attacker.ready());
    const int result = zbx::test::run_in_child_bounded([&] {
        SharedMemory block;
        bool created = false;
        if (!block.open_or_create("Planted", 4096, &created)) return 20 + static_cast<int>(block.last_error());
        if (!created || std::memcmp(block.data(), kMarker, sizeof kMarker) == 0) return 30;
        std::memcpy(block.data(), "victim", 7);
        struct stat st{};
        const std::string path = "/dev/shm/" + ns + ".Planted";
        if (::stat(path.c_str(), &st) != 0 || st.st_uid != 0 || (st.st_mode & 0777) != 0600) return 31;
        return 0;
    });
    EXPECT_NE(result, -2) << "hung on the planted lock";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(attacker.finish(), 0) << "the victim's data reached the planted block";
    ::shm_unlink(("/" + ns + ".Planted").c_str());
    ::shm_unlink(("/" + ns + ".lock").c_str());
}

// An ordinary user cannot remove them (/dev/shm is sticky): opening fails
// at once with a clear reason, and nothing is shared with the other user.
TEST_F(ForeignObjects, AnotherUserIsRefusedQuickly) {
    const std::string ns = shared_memory_namespace();
    Attacker attacker(ns, "Planted");
    ASSERT_TRUE(attacker.ready());
    const int result = zbx::test::run_in_child_bounded([&] {
        if (!become(kVictim)) return 40;
        SharedMemory block;
        if (block.open_or_create("Planted", 4096, nullptr)) return 41;
        return block.last_error() == SharedMemoryError::kUntrusted ? 0 : 50 + static_cast<int>(block.last_error());
    });
    EXPECT_NE(result, -2) << "hung on the planted lock";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(attacker.finish(), 0);
}

// A block of ours that others may open (left by an older version, or
// chmod-ed) is not used: it is replaced by a private one.
TEST(SharedMemoryModes, ABlockOpenToOthersIsReplaced) {
    ScopedEnv no_runtime_dir("XDG_RUNTIME_DIR", nullptr);
    const std::string name = "/" + shared_memory_namespace() + ".Loose";
    const int fd = plant(name, 4096);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_SH), 0);  // a live holder, so not abandoned
    SharedMemory block;
    bool created = false;
    ASSERT_TRUE(block.open_or_create("Loose", 4096, &created));
    EXPECT_TRUE(created);
    EXPECT_NE(std::memcmp(block.data(), kMarker, sizeof kMarker), 0);
    struct stat st{};
    ASSERT_EQ(::stat(("/dev/shm" + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::close(fd);
}

// With a private runtime directory the blocks are files there; a runtime
// directory open to others is not used.
TEST(SharedMemoryModes, BlocksLiveInAPrivateRuntimeDirectory) {
    test::TempDir runtime("zbxtest-runtime-");
    ASSERT_EQ(::chmod(runtime.path().c_str(), 0700), 0);
    const std::string file = shared_memory_namespace() + ".InRuntime";
    {
        ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().c_str());
        SharedMemory block;
        ASSERT_TRUE(block.open_or_create("InRuntime", 4096, nullptr));
        struct stat st{};
        ASSERT_EQ(::stat((runtime / file).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        SharedMemory second;
        EXPECT_TRUE(second.open("InRuntime"));
    }
    EXPECT_FALSE(std::filesystem::exists(runtime / file)) << "the last close removes it";

    ASSERT_EQ(::chmod(runtime.path().c_str(), 0777), 0);
    ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().c_str());
    SharedMemory block;
    ASSERT_TRUE(block.open_or_create("InRuntime", 4096, nullptr));
    EXPECT_FALSE(std::filesystem::exists(runtime / file));
}

}  // namespace
}  // namespace zbx::platform
