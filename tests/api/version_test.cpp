#include <gtest/gtest.h>

#include "zorbex/zorbex.h"

TEST(LibraryExports, DllVersionNeedsNoSession) { EXPECT_EQ(Zorbex_GetDllVersion(), 28640543); }
