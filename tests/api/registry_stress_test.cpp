// Sessions created, used and released on several threads while other
// threads call the exports with stale and made-up handles.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "api/registry.h"
#include "messages.h"
#include "zorbex/zorbex.h"

namespace {

using zbx::test::error_codes;
using zbx::test::take_messages;

TEST(RegistryStress, SessionsComeAndGoWhileStaleHandlesAreUsed) {
    constexpr int kOwners = 4;
    constexpr int kProbers = 3;
    // Each initialization programs a camera (about 0.2 s).  The thread
    // sanitizer finds a race on any interleaving it sees, and slows every
    // initialization tenfold: fewer rounds there.
#if defined(__SANITIZE_THREAD__)
    constexpr int kRounds = 6;
#else
    constexpr int kRounds = 40;
#endif

    std::mutex stale_mutex;
    std::vector<ZbxHandle> stale;
    std::atomic<int> owners_left{kOwners};
    std::atomic<int> owner_failures{0};
    std::latch start(kOwners + kProbers);  // everyone runs at once

    std::vector<std::thread> threads;
    for (int t = 0; t < kOwners; ++t) {
        threads.emplace_back([&] {
            ZbxWindow window = ZbxWin_CreateMessageWindow();
            start.arrive_and_wait();
            for (int round = 0; round < kRounds; ++round) {
                const ZbxHandle h = Zorbex_Initialize(window);
                if (h == 0) {
                    ++owner_failures;
                    continue;
                }
                zbx::api::registry().find_session(h)->report(ZBX_ERR_PARAMETER);
                if (Zorbex_GetStatus(h, 0) != 0 || Zorbex_Fps(h) != 0) ++owner_failures;
                if (Zorbex_GetLastError(h) != ZBX_ERR_PARAMETER) ++owner_failures;
                if (Zorbex_Release(h) != 1) ++owner_failures;
                // A prober may have hit a later session that took the same
                // value, so only our own codes are certain to be there.
                const auto codes = error_codes(take_messages(window));
                if (std::count(codes.begin(), codes.end(), ZBX_ERR_PARAMETER) != 1 ||
                    std::count(codes.begin(), codes.end(), ZBX_ERR_UNSUPPORTED) < 1)
                    ++owner_failures;
                std::lock_guard lock(stale_mutex);
                stale.push_back(h);
            }
            ZbxWin_DestroyWindow(window);
            --owners_left;
        });
    }
    std::atomic<long> probes{0};
    for (int t = 0; t < kProbers; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            start.arrive_and_wait();
            for (int i = 0; owners_left.load() > 0 || i < 500; ++i) {
                ZbxHandle h = random();
                {
                    std::lock_guard lock(stale_mutex);
                    if (!stale.empty() && (random() & 1) != 0) h = stale[random() % stale.size()];
                }
                // Only calls that leave a session as it was: a stale value
                // may name a newer session of an owner.
                int ok = 7;
                EXPECT_EQ(Zorbex_GetStatus(h, 0), 0);
                EXPECT_EQ(Zorbex_Fpga_ReadRegister(h, 0, &ok), 0);
                EXPECT_EQ(ok, 7);
                EXPECT_EQ(Zorbex_SetCrossbar(h, 1, 2), 0);
                ++probes;
                take_messages(nullptr);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(owner_failures.load(), 0);
    EXPECT_GT(probes.load(), 0);
    // Every session was released: none of the handles is known any more.
    for (ZbxHandle h : stale) EXPECT_EQ(Zorbex_Release(h), 0);
}

}  // namespace
