// A fresh directory for one test, removed with everything in it when the
// object goes away.
#pragma once

#include <filesystem>
#include <string>
#include <utility>

namespace zbx::test {

class TempDir {
public:
    // Creates <$TMPDIR or /tmp>/<prefix>XXXXXX; aborts the test program if
    // that is impossible, since no test can run without it.
    explicit TempDir(const std::string& prefix = "zbxtest-");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }
    // Keeps the directory: the destructor will leave it alone.
    std::filesystem::path release() { return std::exchange(path_, {}); }

private:
    std::filesystem::path path_;
};

}  // namespace zbx::test
