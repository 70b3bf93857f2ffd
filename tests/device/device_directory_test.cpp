#include "device/device_directory.h"

#include <gtest/gtest.h>

#include "fake_driver.h"

namespace zbx::device {
namespace {

TEST(DeviceNames, NumberCharactersPutNBeforeM) {
    EXPECT_EQ(device_name("Zbrx530RDNQT", 0), "\\\\.\\Zbrx530RDNQT-0");
    EXPECT_EQ(device_name("Zbrx530RDNQT", 9), "\\\\.\\Zbrx530RDNQT-9");
    EXPECT_EQ(device_name("Zbrx530RDNQT", 10), "\\\\.\\Zbrx530RDNQT-A");
    EXPECT_EQ(device_name("Zbrx530RDNQT", 21), "\\\\.\\Zbrx530RDNQT-L");
    EXPECT_EQ(device_name("Zbrx530RDNQT", 22), "\\\\.\\Zbrx530RDNQT-N");
    EXPECT_EQ(device_name("Zbrx530RDNQT", 23), "\\\\.\\Zbrx530RDNQT-M");
    EXPECT_EQ(device_name("Zbrx530RDNQT", 24), "\\\\.\\Zbrx530RDNQT-O");
    EXPECT_EQ(device_name("Zbrx530RDNQT", 31), "\\\\.\\Zbrx530RDNQT-V");
    EXPECT_EQ(device_name("Zbrx530RDNQT", 32), "\\\\.\\Zbrx530RDNQT-W");
    EXPECT_EQ(device_number_character(36), '\0');
    EXPECT_EQ(device_number_character(-1), '\0');
}

TEST(DeviceDirectory, ProbeFindsPresentCamerasAndKeepsNoHandle) {
    testing::FakeDriver driver;
    driver.set_present(device_name("Zbrx530RDNQT", 22), true);
    DeviceDirectory directory;
    directory.set_stem("Zbrx530RDNQT");
    ASSERT_EQ(directory.select(5), 0);
    directory.probe();
    EXPECT_EQ(driver.opens(), 32u);
    EXPECT_EQ(driver.open_handles(), 0u);
    EXPECT_EQ(directory.selected(), 0);
    EXPECT_STREQ(directory.name(), "\\\\.\\Zbrx530RDNQT-5");  // the probe leaves the name alone
    for (int n = -1; n <= 33; ++n) EXPECT_EQ(directory.is_present(n), n == 0 || n == 22) << n;
    EXPECT_EQ(DeviceDirectory::count(), 32);
}

TEST(DeviceDirectory, ProbeTreatsInvalidHandleAsAbsent) {
    testing::FakeDriver driver;
    driver.forced_open_result = platform::kInvalidDriverHandle;
    DeviceDirectory directory;
    directory.set_stem("Zbrx530RDNQT");
    directory.probe();
    EXPECT_FALSE(directory.is_present(0));
}

TEST(DeviceDirectory, SelectRangeAndStemLimit) {
    testing::FakeDriver driver;
    DeviceDirectory directory;
    directory.set_stem("Zbrx530RDNQTtoolong");
    EXPECT_EQ(directory.stem(), "Zbrx530RDNQT");
    EXPECT_EQ(directory.select(23), 0);
    EXPECT_STREQ(directory.name(), "\\\\.\\Zbrx530RDNQT-M");
    EXPECT_EQ(directory.select(32), 0);
    EXPECT_EQ(directory.selected(), 32);
    EXPECT_EQ(directory.select(33), kCodeBadDevice);
    EXPECT_EQ(directory.select(-1), kCodeBadDevice);
    EXPECT_EQ(directory.selected(), 32);
    EXPECT_STREQ(directory.name(), "\\\\.\\Zbrx530RDNQT-W");
    EXPECT_EQ(driver.opens(), 0u);  // selecting opens nothing
}

}  // namespace
}  // namespace zbx::device
