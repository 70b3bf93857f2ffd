// Blocks and their lock facing objects that someone else put under their
// names: another local user (run as root, with children changed to uids
// 65534 and 65533) who takes the names of the victim's folders first, or a
// copy of ours open to others.  Also that the environment never moves the
// blocks, so one user's processes always meet.
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
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/shared_memory.h"
#include "session/error_codes.h"
#include "session/zorbex.h"
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

std::string folder_of(uid_t uid, int alternate) {
    const std::string first = "/dev/shm/zbx-" + std::to_string(uid);
    return alternate == 0 ? first : first + "-" + std::to_string(alternate);
}

// Removes the test users' folders (as root), whoever made them.
void remove_user_folders() {
    for (uid_t uid : {kAttacker, kVictim})
        for (int i = 0; i <= 7; ++i) std::filesystem::remove_all(folder_of(uid, i));
}

// Creates the file `path` readable and writable by everyone, holding
// `bytes` bytes that start with the marker.
int plant(const std::string& path, std::size_t bytes) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    ::fchmod(fd, 0666);
    if (bytes > 0 && (::ftruncate(fd, static_cast<off_t>(bytes)) != 0 ||
                      ::pwrite(fd, kMarker, sizeof kMarker, 0) != static_cast<ssize_t>(sizeof kMarker)))
        return -1;
    return fd;
}

// Another user who got there first: takes the names of `folders` (open to
// everyone) and plants in the first of them, or in /dev/shm itself when
// there are none, the lock of the test namespace, the default lock of
// kVictim and a block, holding all of them locked.  At the end it says
// whether anything of a victim reached the planted block.
class Attacker {
public:
    Attacker(const std::string& ns, const std::string& block, std::vector<std::string> folders)
        : folders_(std::move(folders)) {
        remove_user_folders();
        const std::string in = folders_.empty() ? "/dev/shm" : folders_.front();
        names_ = {in + "/" + ns + ".lock", in + "/zbx-" + std::to_string(kVictim) + ".lock",
                  in + "/" + ns + "." + block};
        for (const std::string& name : names_) ::unlink(name.c_str());
        int ready[2];
        int done[2];
        if (::pipe(ready) != 0 || ::pipe(done) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(done[1]);
            if (!become(kAttacker)) ::_exit(10);
            for (const std::string& folder : folders_)
                if (::mkdir(folder.c_str(), 0777) != 0 || ::chmod(folder.c_str(), 0777) != 0) ::_exit(15);
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
        for (const std::string& name : names_) ::unlink(name.c_str());
        remove_user_folders();
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
    std::vector<std::string> folders_;
    std::vector<std::string> names_;
    pid_t pid_ = -1;
    int done_ = -1;
    bool ready_ = false;
};

// 0 when `path` is a directory of `uid` that nobody else may enter.
int check_private_folder(const std::string& path, uid_t uid) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) return 1;
    return S_ISDIR(st.st_mode) && st.st_uid == uid && (st.st_mode & 0777) == 0700 ? 0 : 2;
}

class ForeignObjects : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to act as two users (children change to uids 65534 and 65533)";
    }
    zbx::test::ProcessLock other_users_{"zbx-test-other-users"};
    ScopedEnv no_runtime_dir_{"XDG_RUNTIME_DIR", nullptr};  // a service's environment
};

// Objects planted straight in /dev/shm under the names blocks once had
// there are not looked at: root's blocks live in its own folder.
TEST_F(ForeignObjects, ObjectsPlantedInTheSharedFolderAreIgnored) {
    const std::string ns = shared_memory_namespace();
    Attacker attacker(ns, "Planted", {});
    ASSERT_TRUE(attacker.ready());
    const int result = zbx::test::run_in_child_bounded([&] {
        SharedMemory block;
        bool created = false;
        if (!block.open_or_create("Planted", 4096, &created)) return 20 + static_cast<int>(block.last_error());
        if (!created || std::memcmp(block.data(), kMarker, sizeof kMarker) == 0) return 30;
        std::memcpy(block.data(), "victim", 7);
        struct stat st{};
        const std::string path = shared_memory_folder() + "/" + ns + ".Planted";
        if (::stat(path.c_str(), &st) != 0 || st.st_uid != 0 || (st.st_mode & 0777) != 0600) return 31;
        return 40 + check_private_folder(shared_memory_folder(), 0);
    });
    EXPECT_NE(result, -2) << "hung on the planted lock";
    EXPECT_EQ(result, 40);
    EXPECT_EQ(attacker.finish(), 0) << "the victim's data reached the planted block";
}

// Another user took the name of the victim's folder, with a lock and a
// block planted in it: the victim passes over it to a folder of its own,
// at once, and finds the same block there whatever its environment.
TEST_F(ForeignObjects, ASquattedFolderIsPassedOver) {
    const std::string ns = shared_memory_namespace();
    Attacker attacker(ns, "Planted", {folder_of(kVictim, 0)});
    ASSERT_TRUE(attacker.ready());
    const int result = zbx::test::run_in_child_bounded([&] {
        if (!become(kVictim)) return 19;
        SharedMemory block;
        bool created = false;
        if (!block.open_or_create("Planted", 4096, &created)) return 20 + static_cast<int>(block.last_error());
        if (!created || std::memcmp(block.data(), kMarker, sizeof kMarker) == 0) return 30;
        std::memcpy(block.data(), "victim", 7);
        if (shared_memory_folder() != folder_of(kVictim, 1)) return 31;
        if (check_private_folder(folder_of(kVictim, 1), kVictim) != 0) return 32;
        // A desktop program of the same user.
        char runtime[] = "/tmp/zbxtest-runtime-XXXXXX";
        if (::mkdtemp(runtime) == nullptr) return 33;
        ScopedEnv desktop("XDG_RUNTIME_DIR", runtime);
        SharedMemory second;
        const bool met = second.open("Planted") && std::memcmp(second.data(), "victim", 7) == 0;
        ::rmdir(runtime);
        return met ? 0 : 34;
    });
    EXPECT_NE(result, -2) << "hung on the planted lock";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(attacker.finish(), 0) << "the victim's data reached the planted block";
}

// With every folder name taken, opening fails at once and says why, and so
// does a session's start (not as a memory shortage).
TEST_F(ForeignObjects, EveryFolderSquattedIsRefusedAsUntrusted) {
    std::vector<std::string> folders;
    for (int i = 0; i <= 7; ++i) folders.push_back(folder_of(kVictim, i));
    Attacker attacker(shared_memory_namespace(), "Planted", folders);
    ASSERT_TRUE(attacker.ready());
    const int result = zbx::test::run_in_child_bounded([&] {
        if (!become(kVictim)) return 40;
        SharedMemory block;
        if (block.open_or_create("Planted", 4096, nullptr)) return 41;
        if (block.last_error() != SharedMemoryError::kUntrusted) return 50 + static_cast<int>(block.last_error());
        session::CZorbex session;
        if (session.initialize(nullptr) != 0) return 42;
        return session.pop_last_error() == session::ERR_UNTRUSTED ? 0 : 43;
    });
    EXPECT_NE(result, -2) << "hung on the planted lock";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(attacker.finish(), 0);
}

// A block of ours that others may open (left by an older version, or
// chmod-ed) is not used: it is replaced by a private one.
TEST(SharedMemoryModes, ABlockOpenToOthersIsReplaced) {
    const std::string path = shared_memory_folder() + "/" + shared_memory_namespace() + ".Loose";
    ::unlink(path.c_str());
    const int fd = plant(path, 4096);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_SH), 0);  // a live holder, so not abandoned
    SharedMemory block;
    bool created = false;
    ASSERT_TRUE(block.open_or_create("Loose", 4096, &created));
    EXPECT_TRUE(created);
    EXPECT_NE(std::memcmp(block.data(), kMarker, sizeof kMarker), 0);
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::close(fd);
}

// A program with a runtime directory and one without meet in one block,
// which lives in neither's environment but in the user's private folder.
TEST(SharedMemoryModes, TheEnvironmentDoesNotMoveTheBlocks) {
    test::TempDir runtime("zbxtest-runtime-");
    ASSERT_EQ(::chmod(runtime.path().c_str(), 0700), 0);
    const std::string file = shared_memory_namespace() + ".Met";
    SharedMemory block;
    {
        ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().c_str());
        ASSERT_TRUE(block.open_or_create("Met", 4096, nullptr));
        std::memcpy(block.data(), "first", 6);
    }
    EXPECT_FALSE(std::filesystem::exists(runtime / file));
    const std::string folder = shared_memory_folder();
    EXPECT_EQ(check_private_folder(folder, ::geteuid()), 0) << folder;
    EXPECT_TRUE(std::filesystem::exists(folder + "/" + file));
    ScopedEnv service("XDG_RUNTIME_DIR", nullptr);
    const int met = zbx::test::run_in_child([] {
        SharedMemory second;
        bool created = true;
        return second.open_or_create("Met", 4096, &created) && !created &&
                       std::memcmp(second.data(), "first", 6) == 0
                   ? 0
                   : 1;
    });
    EXPECT_EQ(met, 0);
}

}  // namespace
}  // namespace zbx::platform
