// Test entry point shared by every test program.  Each test process gets a
// private shared-memory namespace, so test processes running in parallel
// never share a camera table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/shared_memory.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    zbx::platform::set_shared_memory_namespace("zbxtest-" + std::to_string(::getpid()));
    return RUN_ALL_TESTS();
}
