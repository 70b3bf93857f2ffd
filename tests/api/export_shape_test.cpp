// The shared shape of the exports: lookup, failure value, no exceptions.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "api/export_shape.h"
#include "zorbex/zorbex.h"

namespace zbx::api {
namespace {

TEST(ExportShape, UnknownHandleReturnsTheFailureValueWithoutRunning) {
    bool ran = false;
    const auto op = [&](session::CZorbex&) {
        ran = true;
        return 42;
    };
    EXPECT_EQ(with_session(0u, kFailedMinusOne, op), -1);
    EXPECT_EQ(with_session(0xBADu, kFailed, op), 0);
    EXPECT_FALSE(ran);
}

TEST(ExportShape, ExceptionsBecomeTheFailureValue) {
    const ZbxHandle h = Zorbex_Initialize(nullptr);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(with_session(h, kFailed, [](session::CZorbex& s) { return s.status() + 42; }), 42);
    EXPECT_EQ(with_session(h, kFailedMinusOne,
                           [](session::CZorbex&) -> int { throw std::runtime_error("x"); }),
              -1);
    EXPECT_EQ(Zorbex_GetLastError(h), 0);
    // A failed allocation is also a memory error of the session.
    EXPECT_EQ(with_session(h, kFailed, [](session::CZorbex&) -> int { throw std::bad_alloc(); }), 0);
    EXPECT_EQ(Zorbex_GetLastError(h), ZBX_ERR_MEMORY);
    EXPECT_EQ(guarded(7, []() -> int { throw std::bad_alloc(); }), 7);
    EXPECT_EQ(Zorbex_Release(h), 1);
}

}  // namespace
}  // namespace zbx::api
