#include "directives/file_system.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/os_error.hpp"
#include <type_traits>

namespace torvex::directives {

namespace {

std::string current_directory() {
    std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
    return cwd ? std::string(cwd.get()) : std::string("/");
}

class Descriptor {
public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

}  // namespace

std::string join_path(std::string_view dir, std::string_view name) {
    if (name.starts_with('/') || dir.empty()) return std::string(name);
    std::string joined(dir);
    if (!joined.ends_with('/')) joined += '/';
    joined += name;
    return joined;
}

std::string parent_path(std::string_view path) {
    while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string_view last_component(std::string_view path) {
    while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string lexically_absolute(std::string_view path) {
    std::string full = path.starts_with('/') ? std::string(path) : join_path(current_directory(), path);
    std::vector<std::string_view> parts;
    std::string_view rest = full;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (const std::string_view part : parts) {
        out += '/';
        out += part;
    }
    return out.empty() ? std::string("/") : out;
}

std::optional<std::string> canonical_path(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

bool is_within(std::string_view path, std::string_view root) {
    if (root == "/") return path.starts_with('/');
    if (!path.starts_with(root)) return false;
    return path.size() == root.size() || path[root.size()] == '/';
}

bool is_directory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_symbolic_link(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

namespace {

// Non-blocking, so that opening a FIFO does not wait for a writer; what was
// opened is then refused unless it is a regular file.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

FileRead read_opened(int descriptor);

}  // namespace

OpenDirectory::~OpenDirectory() {
    if (fd_ >= 0) ::close(fd_);
}

FileRead read_regular_file(const std::string& path) { return read_opened(::open(path.c_str(), kReadFlags)); }

FileRead read_regular_file_at(const OpenDirectory& directory, const std::string& name) {
    return read_opened(::openat(directory.fd(), name.c_str(), kReadFlags | O_NOFOLLOW));
}

namespace {

// Reads the file `descriptor` names (closing it), or gives why it cannot:
// the open's error when it is negative, or "not a regular file".
FileRead read_opened(int descriptor) {
    FileRead out;
    struct stat info {};
    Descriptor fd(descriptor);
    if (fd.get() < 0) {
        out.reason = os_error_text(errno);
        return out;
    }
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        out.reason = "not a regular file";
        return out;
    }
    // One byte more than the size: a read that stops short of filling the
    // buffer has met the end (or was cut short before the size: read on),
    // so an unchanged file takes one read instead of a second one that
    // returns nothing. A file that grew since fstat fills it and is read on.
    const auto size = static_cast<std::size_t>(info.st_size);
    std::string bytes;
    bytes.resize(size + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) bytes.resize(bytes.size() + 4096);  // the file grew
        const std::size_t wanted = bytes.size() - filled;
        const ssize_t n = ::read(fd.get(), bytes.data() + filled, wanted);
        if (n < 0) {
            if (errno == EINTR) continue;
            out.reason = os_error_text(errno);
            return out;
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
        if (static_cast<std::size_t>(n) < wanted && filled >= size) break;
    }
    bytes.resize(filled);
    out.bytes = std::move(bytes);
    return out;
}

}  // namespace

DirectoryList list_directory(const std::string& path, bool follow, bool keep_open) {
    DirectoryList out;
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW);
    const int fd = ::open(path.c_str(), flags);
    // With O_DIRECTORY, Linux refuses a link as ENOTDIR rather than ELOOP.
    if (fd < 0 && !follow && (errno == ELOOP || errno == ENOTDIR)) {
        const int refused = errno;
        if (is_symbolic_link(path)) {
            out.link = true;
            return out;
        }
        errno = refused;
    }
    // The listing reads through its own descriptor, so the kept one's offset stays untouched.
    const int kept = fd >= 0 && keep_open ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (kept >= 0) out.open = std::make_shared<const OpenDirectory>(kept);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(fd < 0 ? nullptr : ::fdopendir(fd), &::closedir);
    if (!dir) {
        out.failure = os_error_text(errno);
        out.open.reset();
        if (fd >= 0) ::close(fd);
        return out;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) out.failure = os_error_text(errno);
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        EntryType type = EntryType::Other;
        if (entry->d_type == DT_REG) type = EntryType::File;
        if (entry->d_type == DT_DIR) type = EntryType::Directory;
        out.entries.push_back({std::string(name), type});
    }
    return out;
}

}  // namespace torvex::directives
