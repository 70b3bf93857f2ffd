#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace zbx::platform {
namespace {

namespace fs = std::filesystem;
constexpr const char* kRoot = "Software\\Tevrun\\Zorbex530RDNQTSdk";

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

std::vector<fs::path> files_matching(const fs::path& dir, const std::string& part) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().find(part) != std::string::npos) found.push_back(entry.path());
    return found;
}

// Each case gets its own settings folder.
class SettingsStore : public testing::Test {
protected:
    void SetUp() override { set_settings_root(dir_.path()); }
    void TearDown() override { set_settings_root(saved_); }
    fs::path file() const { return dir_ / "settings.reg"; }

    fs::path saved_ = settings_file_path().parent_path();
    test::TempDir dir_;
};

TEST_F(SettingsStore, CreateMakesEveryLevelAndOpenFindsOnlyWhatExists) {
    SettingsKey key;
    EXPECT_FALSE(key.open(kRoot));
    EXPECT_FALSE(key.is_open());
    EXPECT_FALSE(fs::exists(file()));  // reading creates nothing

    bool created = false;
    ASSERT_TRUE(key.create(kRoot, &created));
    EXPECT_TRUE(created);
    EXPECT_TRUE(key.writable());
    SettingsKey camera;
    ASSERT_TRUE(camera.create(key, "Camera_00", &created));
    EXPECT_TRUE(created);
    EXPECT_EQ(camera.path(), std::string(kRoot) + "\\Camera_00");
    ASSERT_TRUE(camera.create(key, "Camera_00", &created));
    EXPECT_FALSE(created);

    SettingsKey probe;
    EXPECT_TRUE(probe.open("Software"));
    EXPECT_TRUE(probe.open("SOFTWARE\\tevrun"));  // case does not matter
    EXPECT_TRUE(probe.open(""));                  // the user's root
    ASSERT_TRUE(probe.open(kRoot));
    SettingsKey sub;
    EXPECT_TRUE(sub.open(probe, "camera_00"));
    EXPECT_FALSE(sub.open(probe, "Camera_01"));
    EXPECT_FALSE(sub.open(SettingsKey{}, "Camera_00"));  // parent not open

    for (const char* bad : {"\\Software", "Software\\", "Software\\\\Tevrun", "A\nB"}) {
        EXPECT_FALSE(probe.open(bad)) << bad;
        EXPECT_FALSE(probe.create(bad)) << bad;
    }
}

TEST_F(SettingsStore, DwordValuesKeepTheirSizeAndMissingOnesAreReported) {
    SettingsKey size00;
    ASSERT_TRUE(size00.create(std::string(kRoot) + "\\Camera_00\\Size_00"));
    const NamedDword preset[] = {{"TH", 1280}, {"TV", 720}, {"EH", 1280}, {"EV", 720},
                                 {"EHS", 0},   {"EVS", 0},  {"Buf", 4}};
    ASSERT_TRUE(size00.write_dwords(preset));
    ASSERT_TRUE(size00.write_dword("EVS", 0xFFFFFFFFu));  // overwrite

    SettingsKey reader;
    ASSERT_TRUE(reader.open(std::string(kRoot) + "\\Camera_00\\Size_00"));
    std::uint32_t v = 0, stored = 0;
    EXPECT_EQ(reader.read_dword("TV", &v, &stored), SettingsStatus::kOk);
    EXPECT_EQ(v, 720u);
    EXPECT_EQ(stored, 4u);
    std::int32_t i = 0;
    EXPECT_EQ(reader.read_int("evs", &i), SettingsStatus::kOk);
    EXPECT_EQ(i, -1);

    v = 77;
    EXPECT_EQ(reader.read_dword("Nope", &v), SettingsStatus::kNotFound);
    EXPECT_EQ(v, 77u);

    // A value stored with two bytes is there but is not a 32-bit value.
    const std::uint8_t two[] = {1, 2};
    ASSERT_TRUE(size00.write_bytes("Short", two));
    EXPECT_EQ(reader.read_dword("Short", &v, &stored), SettingsStatus::kWrongSize);
    EXPECT_EQ(v, 77u);
    EXPECT_EQ(stored, 2u);
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(reader.read_bytes("Short", &bytes), SettingsStatus::kOk);
    EXPECT_EQ(bytes, std::vector<std::uint8_t>({1, 2}));

    // Keys opened for reading are read-only; closed keys do nothing.
    EXPECT_FALSE(reader.write_dword("TH", 1));
    EXPECT_EQ(reader.read_dword("TH", &v), SettingsStatus::kOk);
    EXPECT_EQ(v, 1280u);
    reader.close();
    EXPECT_EQ(reader.read_dword("TH", &v), SettingsStatus::kFailed);
    EXPECT_EQ(reader.read_dword("TH", nullptr), SettingsStatus::kFailed);
    EXPECT_FALSE(size00.write_dword("Bad\nName", 1));
}

TEST_F(SettingsStore, FileIsReadableRegistryExportText) {
    SettingsKey camera;
    ASSERT_TRUE(camera.create(std::string(kRoot) + "\\Camera_00"));
    ASSERT_TRUE(camera.write_dword("Color", 2));
    ASSERT_TRUE(camera.write_dword("Quote\"Back\\slash", 0x1234ABCD));
    const std::string text = slurp(file());
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(text.find("\n[HKEY_CURRENT_USER\\Software\\Tevrun\\Zorbex530RDNQTSdk\\Camera_00]\n"
                        "\"Color\"=dword:00000002\n"
                        "\"Quote\\\"Back\\\\slash\"=dword:1234abcd\n"),
              std::string::npos)
        << text;
    EXPECT_TRUE(files_matching(dir_.path(), ".tmp-").empty());
}

TEST_F(SettingsStore, HandEditedFileIsReadAndNothingInItIsLost) {
    put(file(),
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
        "; edited by hand\r\n"
        "[HKEY_CURRENT_USER\\Software\\Tevrun\\Zorbex530RDNQTSdk\\Camera_00]\r\n"
        "\"Size\"=dword:3\r\n"
        "\"Blob\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "\"Name\"=\"camera one\"\r\n"
        "\"Multi\"=hex(7):41,00,00,00\r\n"
        "@=dword:00000009\r\n");
    SettingsKey camera;
    ASSERT_TRUE(camera.open(std::string(kRoot) + "\\Camera_00"));
    std::uint32_t v = 0, stored = 0;
    EXPECT_EQ(camera.read_dword("Size", &v), SettingsStatus::kOk);
    EXPECT_EQ(v, 3u);
    EXPECT_EQ(camera.read_dword("Blob", &v), SettingsStatus::kOk);  // four bytes
    EXPECT_EQ(v, 0x04030201u);
    EXPECT_EQ(camera.read_dword("Name", &v, &stored), SettingsStatus::kWrongSize);
    EXPECT_EQ(stored, 22u);  // UTF-16 with terminator
    EXPECT_EQ(camera.read_dword("", &v), SettingsStatus::kOk);
    EXPECT_EQ(v, 9u);

    SettingsKey writer;
    ASSERT_TRUE(writer.create(std::string(kRoot) + "\\Camera_00"));
    ASSERT_TRUE(writer.write_dword("Color", 5));
    const std::string text = slurp(file());
    EXPECT_NE(text.find("\"Blob\"=hex:01,02,03,04\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Name\"=\"camera one\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"Multi\"=hex(7):41,00,00,00\n"), std::string::npos);
    EXPECT_NE(text.find("@=dword:00000009\n"), std::string::npos);
    EXPECT_NE(text.find("\"Size\"=dword:00000003\n"), std::string::npos);
}

TEST_F(SettingsStore, CorruptFileReadsAsEmptyAndIsMovedAside) {
    const std::string garbage = "this is not a settings file\n[HKEY_LOCAL_MACHINE\\X]\n";
    for (const std::string& bad : {garbage,
                                   std::string("Windows Registry Editor Version 5.00\n\"orphan\"=dword:1\n"),
                                   std::string("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n"
                                               "\"x\"=dword:123456789\n")}) {
        put(file(), bad);
        SettingsKey key;
        EXPECT_FALSE(key.open("A"));
        EXPECT_FALSE(fs::exists(file()));
        const auto aside = files_matching(dir_.path(), ".corrupt-");
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(slurp(aside[0]), bad);  // kept as it was
        fs::remove(aside[0]);
    }

    // The same when a write finds it: the file is moved aside first.
    put(file(), garbage);
    SettingsKey key;
    ASSERT_TRUE(key.create("A"));
    ASSERT_TRUE(key.write_dword("x", 1));
    ASSERT_EQ(files_matching(dir_.path(), ".corrupt-").size(), 1u);
    EXPECT_EQ(slurp(files_matching(dir_.path(), ".corrupt-")[0]), garbage);
    std::uint32_t v = 0;
    EXPECT_EQ(key.read_dword("x", &v), SettingsStatus::kOk);

    // Something that cannot be read at all goes aside too.
    fs::remove(file());
    fs::create_directory(file());
    SettingsKey again;
    EXPECT_FALSE(again.open("A"));
    EXPECT_TRUE(again.create("A"));
    EXPECT_TRUE(fs::is_regular_file(file()));
}

TEST_F(SettingsStore, UnwritableFolderFailsWithoutHarm) {
    put(dir_ / "plain", "a file, not a folder");
    set_settings_root(dir_ / "plain" / "settings");
    SettingsKey key;
    EXPECT_FALSE(key.open(kRoot));
    EXPECT_FALSE(key.create(kRoot));
    EXPECT_FALSE(key.is_open());
    EXPECT_FALSE(key.write_dword("x", 1));
    EXPECT_FALSE(delete_settings_tree(kRoot));
    EXPECT_EQ(slurp(dir_ / "plain"), "a file, not a folder");
}

TEST_F(SettingsStore, FullDiskKeepsTheOldFile) {
    SettingsKey key;
    ASSERT_TRUE(key.create(kRoot));
    ASSERT_TRUE(key.write_dword("Keep", 42));
    const std::string before = slurp(file());

    // In a child limited to small files, a large update cannot be written.
    const int status = test::run_in_child([] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        SettingsKey mine;
        if (!mine.create(kRoot)) return 3;
        const std::vector<std::uint8_t> big(10000, 0xAB);
        return mine.write_bytes("Big", big) ? 1 : 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(slurp(file()), before);
    EXPECT_TRUE(files_matching(dir_.path(), ".tmp-").empty());
    std::uint32_t v = 0;
    EXPECT_EQ(key.read_dword("Keep", &v), SettingsStatus::kOk);
    EXPECT_EQ(v, 42u);
}

TEST_F(SettingsStore, ConcurrentWritersInSeveralProcessesLoseNothing) {
    constexpr int kWriters = 3, kValues = 40;
    std::vector<std::unique_ptr<test::ChildProcess>> children;
    for (int w = 0; w < kWriters; ++w)
        children.push_back(std::make_unique<test::ChildProcess>([w] {
            SettingsKey key;
            if (!key.create(std::string(kRoot) + "\\Camera_0" + std::to_string(w))) return 1;
            for (int n = 0; n < kValues; ++n)
                if (!key.write_dword("V" + std::to_string(n), static_cast<std::uint32_t>(w * 1000 + n)))
                    return 2;
            return 0;
        }));
    // This process writes into the same keys at the same time, from two threads.
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([t] {
            SettingsKey key;
            if (!key.create(std::string(kRoot) + "\\Camera_00")) return;
            for (int n = 0; n < kValues; ++n)
                (void)key.write_dword("T" + std::to_string(t) + "_" + std::to_string(n),
                                      static_cast<std::uint32_t>(n));
        });
    for (auto& t : threads) t.join();
    for (auto& child : children) EXPECT_EQ(child->wait(), 0);

    for (int w = 0; w < kWriters; ++w) {
        SettingsKey key;
        ASSERT_TRUE(key.open(std::string(kRoot) + "\\Camera_0" + std::to_string(w)));
        for (int n = 0; n < kValues; ++n) {
            std::uint32_t v = 0;
            ASSERT_EQ(key.read_dword("V" + std::to_string(n), &v), SettingsStatus::kOk) << w << " " << n;
            EXPECT_EQ(v, static_cast<std::uint32_t>(w * 1000 + n));
        }
    }
    SettingsKey camera0;
    ASSERT_TRUE(camera0.open(std::string(kRoot) + "\\Camera_00"));
    for (int t = 0; t < 2; ++t)
        for (int n = 0; n < kValues; ++n) {
            std::uint32_t v = 99;
            EXPECT_EQ(camera0.read_dword("T" + std::to_string(t) + "_" + std::to_string(n), &v),
                      SettingsStatus::kOk);
        }
}

TEST_F(SettingsStore, DeletedKeysAreGoneForEveryHolder) {
    SettingsKey camera;
    ASSERT_TRUE(camera.create(std::string(kRoot) + "\\Camera_00\\Gain"));
    ASSERT_TRUE(camera.write_dword("Global", 3));
    SettingsKey reader;
    ASSERT_TRUE(reader.open(std::string(kRoot) + "\\Camera_00\\Gain"));

    EXPECT_TRUE(delete_settings_tree(std::string(kRoot) + "\\camera_00"));
    EXPECT_FALSE(delete_settings_tree(std::string(kRoot) + "\\Camera_00"));
    std::uint32_t v = 0;
    EXPECT_EQ(reader.read_dword("Global", &v), SettingsStatus::kNotFound);
    SettingsKey probe;
    EXPECT_FALSE(probe.open(std::string(kRoot) + "\\Camera_00"));
    EXPECT_TRUE(probe.open(kRoot));  // the parent stays
    EXPECT_FALSE(delete_settings_tree(""));
    EXPECT_TRUE(probe.open(kRoot));
}

TEST(SettingsLocation, FollowsTheXdgConfigFolder) {
    const fs::path saved = settings_file_path().parent_path();
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved_xdg = xdg ? xdg : "";
    set_settings_root({});

    ::setenv("XDG_CONFIG_HOME", "/srv/conf", 1);
    EXPECT_EQ(settings_file_path(), fs::path("/srv/conf/zorbex-sdk/settings.reg"));
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
        EXPECT_EQ(settings_file_path(), fs::path(home) / ".config/zorbex-sdk/settings.reg");
    }

    if (xdg)
        ::setenv("XDG_CONFIG_HOME", saved_xdg.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    set_settings_root(saved);
}

}  // namespace
}  // namespace zbx::platform
