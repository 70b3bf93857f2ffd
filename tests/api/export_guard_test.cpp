// Every exported family under the export guard: an allocation that fails
// anywhere inside a call ends as that family's failure value, never as an
// exception through the C interface (which would end the process here).
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>

#include "zorbex/vcam.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

// The replacement pair below allocates with malloc and frees with free;
// gcc sees only the free and the operator new of the callers it inlines.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
// Allocations of this thread left before one fails; -1: none fails.
thread_local int g_allocations_left = -1;
}  // namespace

void* operator new(std::size_t size) {
    if (g_allocations_left == 0) {
        g_allocations_left = -1;
        throw std::bad_alloc();
    }
    if (g_allocations_left > 0) --g_allocations_left;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
// Every other form goes through the pair above, so that no block is made
// by the runtime's allocator and freed by this one (the sanitizers check).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace zbx::api {
namespace {

struct GuardedCall {
    std::string name;
    // Makes the call; true when it succeeded, false when it returned the
    // family's failure value.  Anything else fails the test inside.
    std::function<bool()> call;
    // Undoes a successful call, with every allocation served.
    std::function<void()> undo = [] {};
};

void PrintTo(const GuardedCall& c, std::ostream* os) { *os << c.name; }

class ExportGuard : public testing::TestWithParam<GuardedCall> {
protected:
    void SetUp() override { ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK); }
    void TearDown() override {
        g_allocations_left = -1;
        EXPECT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
    }
};

// The n-th allocation of the call fails, for n = 0, 1, ... until the call
// makes no more: each run fails cleanly or succeeds.
TEST_P(ExportGuard, AFailedAllocationAnywhereIsTheFailureValue) {
    bool failed_once = false;
    for (int n = 0; n < 500; ++n) {
        g_allocations_left = n;
        const bool ok = GetParam().call();
        const bool exhausted = g_allocations_left != -1;  // the failure was never reached
        g_allocations_left = -1;
        if (ok) GetParam().undo();
        failed_once |= !ok;
        if (exhausted) {
            EXPECT_TRUE(ok) << "fails without a failed allocation";
            break;
        }
    }
    EXPECT_TRUE(failed_once) << "the call allocates nothing";
    EXPECT_TRUE(GetParam().call());
    GetParam().undo();
}

ZbxWindow g_created = nullptr;
ZbxHandle g_session = 0;

INSTANTIATE_TEST_SUITE_P(
    Families, ExportGuard,
    testing::Values(
        GuardedCall{"ZbxWin_CreateMessageWindow",
                    [] { return (g_created = ZbxWin_CreateMessageWindow()) != nullptr; },
                    [] { EXPECT_EQ(ZbxWin_DestroyWindow(g_created), 1); }},
        GuardedCall{"ZbxWin_CreateWindow",
                    [] { return (g_created = ZbxWin_CreateWindow(nullptr, 0, 0, 64, 48, 0)) != nullptr; },
                    [] { EXPECT_EQ(ZbxWin_DestroyWindow(g_created), 1); }},
        GuardedCall{"ZbxVcam_SetSlots",
                    [] {
                        const int result = ZbxVcam_SetSlots(0x6);
                        EXPECT_TRUE(result == ZBX_VCAM_OK || result == ZBX_VCAM_E_FAILED) << result;
                        return result == ZBX_VCAM_OK;
                    },
                    [] { EXPECT_EQ(ZbxVcam_SetSlots(0x1), ZBX_VCAM_OK); }},
        GuardedCall{"Zorbex_Initialize", [] { return (g_session = Zorbex_Initialize(nullptr)) != 0; },
                    [] { EXPECT_EQ(Zorbex_Release(g_session), 1); }}),
    [](const testing::TestParamInfo<GuardedCall>& p) { return p.param.name; });

}  // namespace
}  // namespace zbx::api
