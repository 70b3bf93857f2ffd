// Test entry point shared by every test program.  Each test process gets a
// private shared-memory namespace and a private settings folder (a fresh
// temporary directory, removed at exit), so test processes running in
// parallel never share a camera table or a settings file, and no test
// touches the user's own settings.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/settings_store.h"
#include "platform/shared_memory.h"
#include "support/temp_dir.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Tests are headless unless they start an X server of their own.
    ::unsetenv("DISPLAY");
    const pid_t pid = ::getpid();
    zbx::platform::set_shared_memory_namespace("zbxtest-" + std::to_string(pid));
    int result;
    {
        zbx::test::TempDir settings_dir("zbxtest-settings-");
        zbx::platform::set_settings_root(settings_dir.path());
        result = RUN_ALL_TESTS();
        zbx::platform::set_settings_root({});
        // Children forked by tests that return here must not remove the
        // parent's folder.
        if (::getpid() != pid) (void)settings_dir.release();
    }
    if (::getpid() == pid) {
        zbx::platform::set_shared_memory_namespace("zbxtest-" + std::to_string(pid));
        zbx::platform::remove_shared_memory_lock();
    }
    return result;
}
