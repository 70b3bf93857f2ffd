#include "device/camera_table.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "device/memory_reader.h"
#include "platform/process_identity.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace zbx::device {
using platform::current_process_identity;
using platform::process_alive;
namespace {

constexpr std::uintptr_t kWindowA = 0x1000;
constexpr std::uintptr_t kWindowB = 0x2000;

TEST(CameraTable, CreatorClearsTheHeadAndLaterOpenersDoNot) {
    SharedCameraTable first;
    ASSERT_TRUE(first.open_session_block());
    first.data()[100] = 0x5A;
    first.data()[kSharedBlockSize - 1] = 0x7E;
    SharedCameraTable second;
    ASSERT_TRUE(second.open_session_block());
    EXPECT_EQ(second.data()[100], 0x5A);
    EXPECT_EQ(second.data()[kSharedBlockSize - 1], 0x7E);
    // A second process finds the block there too.
    EXPECT_EQ(test::run_in_child([] {
                  SharedCameraTable table;
                  return table.open_session_block() && table.data()[100] == 0x5A ? 0 : 1;
              }),
              0);
}

TEST(CameraTable, MarksRunningAndStoppedOnlyForTheOwner) {
    SharedCameraTable table;
    ASSERT_TRUE(table.open_session_block());
    EXPECT_FALSE(table.in_use(3));
    EXPECT_EQ(table.mark_running(3, kWindowA), 1);
    EXPECT_TRUE(table.in_use(3));
    EXPECT_FALSE(table.in_use(4));
    const std::uint8_t* e = table.data() + 2'125'568 + 3 * 152;
    std::uint64_t window = 0;
    std::memcpy(&window, e, 8);
    EXPECT_EQ(window, kWindowA);
    EXPECT_STREQ(reinterpret_cast<const char*>(e + 24), "ZorbexSdk_530RD_NQT.dll");
    EXPECT_EQ(table.entry(3).owner, current_process_identity());

    EXPECT_EQ(table.mark_stopped(3, kWindowB), 1);  // another session's window: kept
    EXPECT_TRUE(table.in_use(3));
    std::uint64_t reserved = 1;
    std::memcpy(const_cast<std::uint8_t*>(e) + 16, &reserved, 8);
    EXPECT_EQ(table.mark_stopped(3, kWindowA), 1);  // reserved in use: kept
    EXPECT_TRUE(table.in_use(3));
    reserved = 0;
    std::memcpy(const_cast<std::uint8_t*>(e) + 16, &reserved, 8);
    EXPECT_EQ(table.mark_stopped(3, kWindowA), 1);
    EXPECT_FALSE(table.in_use(3));
    const CameraEntry cleared = table.entry(3);
    EXPECT_EQ(cleared.window, 0u);
    EXPECT_EQ(cleared.owner, 0u);
    EXPECT_EQ(cleared.text, "");

    EXPECT_EQ(table.mark_running(32, kWindowA), 0);
    EXPECT_EQ(table.mark_running(-1, kWindowA), 0);
    EXPECT_FALSE(table.in_use(32));
}

TEST(CameraTable, WithoutABlockNothingHappens) {
    SharedCameraTable table;
    EXPECT_FALSE(table.is_open());
    EXPECT_FALSE(table.open("NO_SUCH_BLOCK"));
    EXPECT_EQ(table.mark_running(0, kWindowA), 0);
    EXPECT_EQ(table.mark_stopped(0, kWindowA), 0);
    EXPECT_FALSE(table.in_use(0));
}

TEST(CameraTable, TwoProcessesShareTheTable) {
    SharedCameraTable table;
    ASSERT_TRUE(table.open_session_block());
    ASSERT_EQ(table.mark_running(1, kWindowA), 1);
    // The child sees this process's camera in use, cannot clear it with the
    // same window value (another process), and marks its own camera.
    EXPECT_EQ(test::run_in_child([] {
                  SharedCameraTable other;
                  if (!other.open_session_block() || !other.in_use(1)) return 1;
                  other.mark_stopped(1, kWindowA);
                  if (!other.in_use(1)) return 2;
                  other.mark_running(2, kWindowB);
                  return other.mark_stopped(2, kWindowB) == 1 && !other.in_use(2) ? 0 : 3;
              }),
              0);
    EXPECT_TRUE(table.in_use(1));
    EXPECT_FALSE(table.in_use(2));
}

// A child marks camera 5 running and stays alive until killed.
class KilledOwner : public ::testing::Test {
protected:
    pid_t start_owner(bool stop_first) {
        int ready[2];
        if (::pipe(ready) != 0) return -1;
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(ready[0]);
            SharedCameraTable child;
            if (child.open_session_block()) {
                child.mark_running(5, kWindowB);
                if (stop_first) child.mark_stopped(5, kWindowB);
            }
            const char byte = 1;
            (void)!::write(ready[1], &byte, 1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char byte = 0;
        (void)!::read(ready[0], &byte, 1);
        ::close(ready[0]);
        return pid;
    }
};

TEST_F(KilledOwner, EntryOfAKilledProcessIsFreedAndCleared) {
    SharedCameraTable table;
    ASSERT_TRUE(table.open_session_block());
    const pid_t pid = start_owner(false);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(table.in_use(5));
    EXPECT_EQ(static_cast<pid_t>(table.entry(5).owner & 0xFFFFFFFFu), pid);
    EXPECT_TRUE(process_alive(table.entry(5).owner));
    // Killed but not yet reaped: the process is gone all the same.
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    for (int i = 0; i < 500 && process_alive(table.entry(5).owner); ++i) ::usleep(2000);
    EXPECT_FALSE(table.in_use(5));
    const CameraEntry entry = table.entry(5);
    EXPECT_EQ(entry.window, 0u);
    EXPECT_EQ(entry.owner, 0u);
    EXPECT_EQ(entry.text, "");
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_FALSE(table.in_use(5));
    // The camera can be taken again.
    EXPECT_EQ(table.mark_running(5, kWindowA), 1);
    EXPECT_TRUE(table.in_use(5));
    table.mark_stopped(5, kWindowA);
}

TEST_F(KilledOwner, ReusedProcessIdDoesNotPassForTheOwner) {
    const std::uint64_t self = current_process_identity();
    EXPECT_TRUE(process_alive(self));
    // Same process id, another start time.
    EXPECT_FALSE(process_alive(self ^ (std::uint64_t{1} << 40)));
    EXPECT_TRUE(process_alive(0));  // nothing to tell from
}

TEST(MemoryReader, LoadsWholeFilesAndReadsRecords) {
    test::TempDir dir("zbx-reader-");
    const std::string empty = (dir / "empty.bin").string();
    const std::string records = (dir / "defects.bin").string();
    std::fclose(std::fopen(empty.c_str(), "wb"));
    std::FILE* f = std::fopen(records.c_str(), "wb");
    const std::uint8_t bytes[] = {1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 9};
    std::fwrite(bytes, 1, sizeof bytes, f);
    std::fclose(f);

    MemoryReader reader;
    ASSERT_NE(reader.load(empty.c_str()), nullptr);
    EXPECT_EQ(reader.data(), reader.end());
    EXPECT_EQ(reader.size(), 0u);
    std::int32_t value = 0;
    EXPECT_FALSE(reader.read_le32(&value));

    ASSERT_NE(reader.load(records.c_str()), nullptr);
    EXPECT_EQ(reader.size(), 9u);
    ASSERT_TRUE(reader.read_le32(&value));
    EXPECT_EQ(value, 1);
    ASSERT_TRUE(reader.read_le32(&value));
    EXPECT_EQ(value, -2);
    EXPECT_EQ(reader.remaining(), 1u);
    EXPECT_FALSE(reader.read_le32(&value));
    EXPECT_EQ(reader.remaining(), 1u);

    EXPECT_EQ(reader.load((dir / "missing").c_str()), nullptr);
    EXPECT_EQ(reader.data(), nullptr);
    EXPECT_EQ(reader.remaining(), 0u);
    reader.release();
}

}  // namespace
}  // namespace zbx::device
