#include "platform/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>

#include "platform/files.h"
#include "platform/private_objects.h"
#include "platform/settings_tree.h"

namespace zbx::platform {
namespace fs = std::filesystem;
using settings::Tree;
using settings::Value;
using settings::ValueKind;

namespace {

constexpr const char* kFileName = "settings.reg";
constexpr const char* kDefaultFolder = "zorbex-sdk";
// Far more than the library ever stores; a bigger file is not ours.
constexpr off_t kMaxFileSize = 16 * 1024 * 1024;
// An update takes milliseconds; a lock held longer is stuck.
constexpr std::uint32_t kLockTimeoutMs = 5000;

std::mutex g_root_mutex;
fs::path g_root;  // empty: the per-user default
std::atomic<unsigned> g_temp_counter{0};

fs::path default_folder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return fs::path(xdg) / kDefaultFolder;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return fs::path(home) / ".config" / kDefaultFolder;
    struct passwd pw{};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && pw.pw_dir)
        return fs::path(pw.pw_dir) / ".config" / kDefaultFolder;
    // No home at all: the per-user runtime directory, else a predictable
    // name in /tmp that is used only while it is a private folder of ours
    // (see trusted_folder).
    const fs::path runtime = private_runtime_dir();
    if (!runtime.empty()) return runtime / kDefaultFolder;
    return fs::path("/tmp") / (std::string(kDefaultFolder) + "-" + std::to_string(::getuid()));
}

// The folder holds our settings and their lock only while it is ours and
// nobody else may put files in it; otherwise another user could plant
// values or hold the lock.  A folder of ours that others may write in (made
// under a loose umask) is closed first; anyone else's is not used at all.
bool trusted_folder(const fs::path& folder) {
    struct stat st{};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & 022) != 0)
        (void)::chmod(folder.c_str(), st.st_mode & 07755);
    return is_private_directory(folder, false);
}

// Creates the folder (private to the user) and its missing parents.
void make_folder(const fs::path& folder) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(folder, ec))) return;
    fs::create_directories(folder.parent_path(), ec);
    (void)::mkdir(folder.c_str(), 0700);
}

fs::path settings_folder() {
    std::lock_guard lock(g_root_mutex);
    return g_root.empty() ? default_folder() : g_root;
}

// Exclusive lock on the companion lock file; the settings file itself is
// replaced by rename, so it cannot carry the lock.
class FileLock {
public:
    explicit FileLock(const fs::path& folder) {
        const fs::path lock_path = folder / (std::string(kFileName) + ".lock");
        do fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0) return;
        if (!is_private_file(fd_) || !lock_with_timeout(fd_, true, kLockTimeoutMs)) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    [[nodiscard]] bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

enum class ReadOutcome { kMissing, kRead, kBad };

// Reads the whole file as text.  kBad for a file that exists but cannot be
// read (permissions, a directory, too big, an I/O error).
ReadOutcome read_text(const fs::path& file, std::string* text) {
    int fd;
    do fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno == ENOENT ? ReadOutcome::kMissing : ReadOutcome::kBad;
    File owner{fd};
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_size > kMaxFileSize)
        return ReadOutcome::kBad;
    text->clear();
    char chunk[8192];
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadOutcome::kBad;
        if (n == 0) break;
        text->append(chunk, static_cast<std::size_t>(n));
        if (text->size() > static_cast<std::size_t>(kMaxFileSize)) return ReadOutcome::kBad;
    }
    return ReadOutcome::kRead;
}

// Renames a bad file to a name of its own; the caller holds the lock.
bool move_aside(const fs::path& file) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    struct tm parts{};
    ::localtime_r(&now, &parts);
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &parts);
    const std::string base = file.string() + ".corrupt-" + stamp + "-" + std::to_string(::getpid());
    for (int n = 0; n < 1000; ++n) {
        const std::string target = n == 0 ? base : base + "-" + std::to_string(n);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(target, ec))) continue;
        return ::rename(file.c_str(), target.c_str()) == 0;
    }
    return false;
}

// The current tree.  A bad file reads as empty and is moved aside when the
// lock is held; *usable is false when a bad file is still in place (so it
// must not be replaced).
Tree load_tree(const fs::path& file, bool locked, bool* usable) {
    *usable = true;
    std::string text;
    const ReadOutcome outcome = read_text(file, &text);
    if (outcome == ReadOutcome::kMissing) return Tree{};
    if (outcome == ReadOutcome::kRead) {
        if (auto tree = Tree::parse(text)) return std::move(*tree);
    }
    *usable = locked && move_aside(file);
    return Tree{};
}

// Writes `tree` to a temporary file beside `file` and renames it over.
bool store_tree(const fs::path& file, const Tree& tree) {
    const std::string text = tree.format();
    const fs::path temp = file.string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                          std::to_string(g_temp_counter.fetch_add(1));
    int fd;
    do fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    File out{fd};
    bool ok = out.write(text.data(), text.size()) && ::fsync(out.fd()) == 0;
    ok = out.close() && ok;
    ok = ok && ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

// Reads the tree as it is now.
Tree read_tree() {
    const fs::path folder = settings_folder();
    const fs::path file = folder / kFileName;
    std::error_code ec;
    if (!trusted_folder(folder) || !fs::exists(fs::symlink_status(file, ec))) return Tree{};
    // A folder we cannot write still lets us read, without the lock: the
    // file is only ever replaced whole.
    FileLock lock(folder);
    bool usable = false;
    return load_tree(file, lock.held(), &usable);
}

// Applies `change` to the current tree under the lock and stores the result
// when `change` returns true.  False when the file cannot be written.
bool update_tree(const std::function<bool(Tree&)>& change) {
    const fs::path folder = settings_folder();
    const fs::path file = folder / kFileName;
    make_folder(folder);
    if (!trusted_folder(folder)) return false;
    FileLock lock(folder);
    if (!lock.held()) return false;
    bool usable = false;
    Tree tree = load_tree(file, true, &usable);
    if (!usable) return false;
    if (!change(tree)) return true;
    return store_tree(file, tree);
}

std::string join(std::string_view parent, std::string_view child) {
    if (parent.empty()) return std::string(child);
    if (child.empty()) return std::string(parent);
    std::string path(parent);
    path += '\\';
    path += child;
    return path;
}

void put_value(settings::Key& key, std::string_view name, ValueKind kind,
               std::vector<std::uint8_t> bytes) {
    Value* value = key.find(name);
    if (value == nullptr) {
        key.values.push_back(Value{std::string(name), kind, 0, {}});
        value = &key.values.back();
    }
    value->kind = kind;
    value->type_code = 0;
    value->bytes = std::move(bytes);
}

std::vector<std::uint8_t> dword_bytes(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

}  // namespace

void set_settings_root(fs::path dir) {
    std::lock_guard lock(g_root_mutex);
    g_root = std::move(dir);
}

fs::path settings_file_path() { return settings_folder() / kFileName; }

bool SettingsKey::open(std::string_view path) {
    close();
    if (!settings::valid_key_path(path) || !read_tree().has_key(path)) return false;
    path_ = path;
    open_ = true;
    writable_ = false;
    return true;
}

bool SettingsKey::open(const SettingsKey& parent, std::string_view subkey) {
    if (!parent.is_open()) {
        close();
        return false;
    }
    return open(join(parent.path(), subkey));
}

bool SettingsKey::create(std::string_view path, bool* created) {
    close();
    if (created) *created = false;
    if (!settings::valid_key_path(path)) return false;
    bool made = false;
    const bool ok = update_tree([&](Tree& tree) {
        if (tree.has_key(path)) return false;
        tree.ensure(path, &made);
        return true;
    });
    if (!ok) return false;
    path_ = path;
    open_ = true;
    writable_ = true;
    if (created) *created = made;
    return true;
}

bool SettingsKey::create(const SettingsKey& parent, std::string_view subkey, bool* created) {
    if (!parent.is_open()) {
        close();
        if (created) *created = false;
        return false;
    }
    return create(join(parent.path(), subkey), created);
}

void SettingsKey::close() {
    path_.clear();
    open_ = false;
    writable_ = false;
}

SettingsStatus SettingsKey::read_bytes(std::string_view name, std::vector<std::uint8_t>* bytes) const {
    if (!open_ || bytes == nullptr) return SettingsStatus::kFailed;
    const Tree tree = read_tree();
    const settings::Key* key = tree.find(path_);
    const Value* value = key ? key->find(name) : nullptr;
    if (value == nullptr) return SettingsStatus::kNotFound;
    *bytes = value->bytes;
    return SettingsStatus::kOk;
}

SettingsStatus SettingsKey::read_dword(std::string_view name, std::uint32_t* value,
                                       std::uint32_t* stored_size) const {
    if (value == nullptr) return SettingsStatus::kFailed;
    std::vector<std::uint8_t> bytes;
    const SettingsStatus status = read_bytes(name, &bytes);
    if (status != SettingsStatus::kOk) return status;
    if (stored_size) *stored_size = static_cast<std::uint32_t>(bytes.size());
    if (bytes.size() != 4) return SettingsStatus::kWrongSize;
    *value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t{bytes[3]} << 24);
    return SettingsStatus::kOk;
}

SettingsStatus SettingsKey::read_int(std::string_view name, std::int32_t* value) const {
    if (value == nullptr) return SettingsStatus::kFailed;
    std::uint32_t raw = 0;
    const SettingsStatus status = read_dword(name, &raw);
    if (status == SettingsStatus::kOk) *value = static_cast<std::int32_t>(raw);
    return status;
}

bool SettingsKey::write_dword(std::string_view name, std::uint32_t value) {
    const NamedDword one{name, value};
    return write_dwords(std::span(&one, 1));
}

bool SettingsKey::write_dwords(std::span<const NamedDword> values) {
    if (!writable()) return false;
    for (const auto& v : values)
        if (!settings::valid_value_name(v.name)) return false;
    return update_tree([&](Tree& tree) {
        // The key may have been removed meanwhile; writing brings it back,
        // so nothing handed to us is dropped.
        settings::Key& key = tree.ensure(path_);
        for (const auto& v : values) put_value(key, v.name, ValueKind::kDword, dword_bytes(v.value));
        return true;
    });
}

bool SettingsKey::write_bytes(std::string_view name, std::span<const std::uint8_t> bytes) {
    if (!writable() || !settings::valid_value_name(name)) return false;
    return update_tree([&](Tree& tree) {
        put_value(tree.ensure(path_), name, ValueKind::kBinary,
                  std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        return true;
    });
}

bool delete_settings_tree(std::string_view path) {
    // The user's root itself cannot be removed, as in the registry.
    if (path.empty() || !settings::valid_key_path(path)) return false;
    bool removed = false;
    const bool ok = update_tree([&](Tree& tree) {
        removed = tree.remove_tree(path);
        return removed;
    });
    return ok && removed;
}

}  // namespace zbx::platform
