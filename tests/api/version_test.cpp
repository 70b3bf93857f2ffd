#include <gtest/gtest.h>

#include <cstddef>

#include "zorbex/zorbex.h"

TEST(LibraryExports, DllVersionNeedsNoSession) { EXPECT_EQ(Zorbex_GetDllVersion(), 28640543); }

// The records applications read must keep the library's byte layout.
static_assert(sizeof(ZbxFrameRecord) == 32 && offsetof(ZbxFrameRecord, buffer) == 24);
static_assert(sizeof(ZbxCameraInfo) == 36 && offsetof(ZbxCameraInfo, max_exposure) == 32);
