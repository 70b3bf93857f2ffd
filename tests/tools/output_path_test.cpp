// A path that cannot be written is reported before a frame is taken.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "output_path.h"
#include "support/temp_dir.h"

namespace zbxcam {
namespace {

TEST(OutputPathTest, WritablePathsPass) {
    zbx::test::TempDir dir("zbxcam-out-");
    const std::string base = dir.path().string();
    EXPECT_EQ(output_path_problem(base + "/new.png"), "");
    std::ofstream(base + "/old.png") << "x";
    EXPECT_EQ(output_path_problem(base + "/old.png"), "");
}

TEST(OutputPathTest, MissingFoldersAndFoldersAsFilesAreNamed) {
    zbx::test::TempDir dir("zbxcam-out-");
    const std::string base = dir.path().string();
    EXPECT_EQ(output_path_problem(base + "/nope/a.png"), "the folder " + base + "/nope does not exist");
    EXPECT_EQ(output_path_problem(base), base + " is a folder");
    EXPECT_EQ(output_path_problem(base + "/"), base + "/ names a folder, not a file");
    std::ofstream(base + "/file") << "x";
    EXPECT_EQ(output_path_problem(base + "/file/a.png"), base + "/file is not a folder");
    EXPECT_EQ(output_path_problem(""), "the file name is empty");
}

TEST(OutputPathTest, ReadOnlyFilesAndFoldersAreRefused) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
    zbx::test::TempDir dir("zbxcam-out-");
    const std::string base = dir.path().string();
    const std::string file = base + "/locked.png";
    std::ofstream(file) << "x";
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_NE(output_path_problem(file).find("cannot be overwritten"), std::string::npos);
    const std::string folder = base + "/ro";
    ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
    EXPECT_NE(output_path_problem(folder + "/a.png").find("cannot be written to"), std::string::npos);
}

}  // namespace
}  // namespace zbxcam
