#include <gtest/gtest.h>

#include <cstddef>

#include "zorbex/errors.h"
#include "zorbex/zorbex.h"

TEST(LibraryExports, DllVersionNeedsNoSession) { EXPECT_EQ(Zorbex_GetDllVersion(), 28640543); }

// The records applications read must keep the library's byte layout.
static_assert(sizeof(ZbxFrameRecord) == 32 && offsetof(ZbxFrameRecord, buffer) == 24);
static_assert(sizeof(ZbxCameraInfo) == 36 && offsetof(ZbxCameraInfo, max_exposure) == 32);

TEST(LibraryExports, ErrorNamesCoverEveryCodeAndNothingElse) {
    EXPECT_STREQ(ZbxError_Name(ZBX_ERR_NONE), "ERR_NONE");
    EXPECT_STREQ(ZbxError_Name(ZBX_ERR_FILE), "ERR_FILE");
    for (int code : {-1, 14, 1 << 30}) {
        EXPECT_STREQ(ZbxError_Name(code), "ERR_UNKNOWN") << code;
        EXPECT_STREQ(ZbxError_Describe(code), ZbxError_Describe(14)) << code;
    }
    for (int code = ZBX_ERR_NOT_READY; code <= ZBX_ERR_FRAME_TIMEOUT; ++code) {
        EXPECT_STRNE(ZbxError_Name(code), "ERR_UNKNOWN") << code;
        EXPECT_STRNE(ZbxError_Describe(code), ZbxError_Describe(14)) << code;
    }
    EXPECT_STREQ(ZbxError_Name(ZBX_ERR_UNTRUSTED), "ERR_UNTRUSTED");
}
