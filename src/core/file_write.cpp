#include "core/file_write.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <type_traits>
#include <utility>

namespace torvex {

namespace {

constexpr int kMaxLinks = 40;              // as the kernel's own limit on a path walk
constexpr std::size_t kMaxTempStem = 200;  // keeps the temporary name within NAME_MAX
constexpr int kTempAttempts = 64;

class Descriptor {
public:
    explicit Descriptor(int fd = -1) noexcept : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // Closes, reporting the error a delayed write may surface only here.
    int close() noexcept {
        const int fd = std::exchange(fd_, -1);
        if (fd < 0) return 0;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    void reset() noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_;
};

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string_view name_of(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Writes everything, resuming after interrupted and partial writes; 0 or the errno.
int write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

int sync_descriptor(int fd) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

// The file a path finally names: symbolic links followed (relative targets
// against the link's directory), directory parts left to the kernel. The
// file need not exist: a dangling link names the file it would create.
struct Target {
    std::string path;
    std::optional<struct stat> existing;
    int code = 0;  // errno of a failed walk
};

Target resolve_target(const std::string& path) {
    Target target;
    target.path = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(target.path.c_str(), &st) != 0) {
            if (errno != ENOENT) target.code = errno;
            return target;
        }
        if (!S_ISLNK(st.st_mode)) {
            target.existing = st;
            return target;
        }
        if (hops == kMaxLinks) {
            target.code = ELOOP;
            return target;
        }
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(target.path.c_str(), link.data(), link.size());
        if (n < 0) {
            target.code = errno;
            return target;
        }
        link.resize(static_cast<std::size_t>(n));
        if (!link.starts_with('/')) {
            const std::string dir = directory_of(target.path);
            link = (dir == "/" ? dir : dir + "/") + link;
        }
        target.path = std::move(link);
    }
}

// A new, empty file beside `target`, or the errno of the last attempt.
struct TempFile {
    std::string path;
    Descriptor fd;
};

int create_temp(const std::string& target, mode_t mode, TempFile& out) {
    thread_local std::minstd_rand random{std::random_device{}()};
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    const std::string dir = directory_of(target);
    std::string stem = (dir == "/" ? dir : dir + "/") + ".";
    stem += name_of(target).substr(0, kMaxTempStem);
    stem += ".tmp-";
    int code = EEXIST;
    for (int attempt = 0; attempt < kTempAttempts && code == EEXIST; ++attempt) {
        std::string name = stem;
        for (int i = 0; i < 8; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0) {
            out.path = std::move(name);
            out.fd = Descriptor(fd);
            return 0;
        }
        code = errno;
    }
    return code;
}

bool refuses_new_files(int code) { return code == EACCES || code == EPERM || code == EROFS; }

struct Prepared {
    std::size_t index = 0;
    Target target;
    std::string temp;       // empty: written in place, or a repeat
    bool in_place = false;  // the directory refused a temporary file
    bool repeat = false;    // the same file with the same content as an earlier entry
};

bool same_file(const Target& a, const Target& b) {
    if (a.existing && b.existing) return a.existing->st_dev == b.existing->st_dev && a.existing->st_ino == b.existing->st_ino;
    return !a.existing && !b.existing && a.path == b.path;
}

void remove_temps(const std::vector<Prepared>& prepared, std::size_t from) {
    for (std::size_t i = from; i < prepared.size(); ++i) {
        if (!prepared[i].temp.empty()) ::unlink(prepared[i].temp.c_str());
    }
}

FileWriteFailure io_failure(std::size_t index, int code) {
    return FileWriteFailure{FileWriteFailure::Kind::Io, index, 0, code, os_error_text(code)};
}

// One entry's temporary file, or its failure. Nothing of the target changes.
std::optional<FileWriteFailure> prepare(const FileReplacement& entry, Prepared& out) {
    const Target& target = out.target;
    if (target.code != 0) return io_failure(out.index, target.code);
    if (target.existing) {
        const struct stat& st = *target.existing;
        if (S_ISDIR(st.st_mode)) return io_failure(out.index, EISDIR);
        if (!S_ISREG(st.st_mode)) {
            return FileWriteFailure{FileWriteFailure::Kind::Io, out.index, 0, 0, "not a regular file"};
        }
        // The target itself must be writable: a rename would replace a
        // read-only file that an open for writing is refused.
        Descriptor probe(::open(target.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
        if (!probe) return io_failure(out.index, errno);
    }
    const mode_t mode = target.existing ? S_IRUSR | S_IWUSR : 0666;  // umask applies to a new file
    TempFile temp;
    if (const int code = create_temp(target.path, mode, temp); code != 0) {
        if (target.existing && refuses_new_files(code)) {
            out.in_place = true;
            return std::nullopt;
        }
        return io_failure(out.index, code);
    }
    out.temp = temp.path;
    int code = 0;
    if (target.existing) {
        const struct stat& st = *target.existing;
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
            // Keeps the owner where the caller may (root), else at least the group.
            if (::fchown(temp.fd.get(), st.st_uid, st.st_gid) != 0) (void)::fchown(temp.fd.get(), static_cast<uid_t>(-1), st.st_gid);
        }
        if (::fchmod(temp.fd.get(), st.st_mode & 07777) != 0) code = errno;
    }
    if (code == 0) code = write_all(temp.fd.get(), entry.content);
    if (code == 0) code = sync_descriptor(temp.fd.get());
    if (const int closed = temp.fd.close(); code == 0) code = closed;
    if (code != 0) return io_failure(out.index, code);
    return std::nullopt;
}

// The Part's plain write, for a target whose directory takes no new file.
int write_in_place(const std::string& path, std::string_view content) {
    Descriptor fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY));
    if (!fd) return errno;
    int code = write_all(fd.get(), content);
    if (code == 0) code = sync_descriptor(fd.get());
    if (const int closed = fd.close(); code == 0) code = closed;
    return code;
}

void sync_directory(const std::string& dir) {
    Descriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) (void)sync_descriptor(fd.get());
}

}  // namespace


FileWriteOutcome replace_files(const std::vector<FileReplacement>& batch) {
    FileWriteOutcome outcome;
    std::vector<Prepared> prepared;
    prepared.reserve(batch.size());
    for (std::size_t i = 0; i < batch.size(); ++i) {
        Prepared entry;
        entry.index = i;
        entry.target = resolve_target(batch[i].path);
        bool repeat = false;
        for (const Prepared& earlier : prepared) {
            if (entry.target.code != 0 || earlier.target.code != 0 || !same_file(entry.target, earlier.target)) continue;
            if (batch[earlier.index].content != batch[i].content) {
                remove_temps(prepared, 0);
                outcome.failure = FileWriteFailure{FileWriteFailure::Kind::SameTarget, i, earlier.index, 0, {}};
                return outcome;
            }
            repeat = true;
            break;
        }
        entry.repeat = repeat;
        if (!repeat) {
            if (auto failure = prepare(batch[i], entry)) {
                prepared.push_back(std::move(entry));
                remove_temps(prepared, 0);
                outcome.failure = std::move(failure);
                return outcome;
            }
        }
        prepared.push_back(std::move(entry));
    }

    std::vector<std::string> directories;
    for (std::size_t i = 0; i < prepared.size(); ++i) {
        const Prepared& entry = prepared[i];
        if (entry.repeat) continue;
        int code = 0;
        if (entry.in_place) {
            code = write_in_place(entry.target.path, batch[entry.index].content);
        } else if (::rename(entry.temp.c_str(), entry.target.path.c_str()) != 0) {
            code = errno;
            ::unlink(entry.temp.c_str());
        }
        if (code != 0) {
            remove_temps(prepared, i + 1);
            outcome.failure = io_failure(entry.index, code);
            break;
        }
        outcome.written.push_back(entry.index);
        if (!entry.in_place) directories.push_back(directory_of(entry.target.path));
    }
    // The renames themselves reach the disk with their directories.
    for (std::size_t i = 0; i < directories.size(); ++i) {
        bool seen = false;
        for (std::size_t j = 0; j < i && !seen; ++j) seen = directories[j] == directories[i];
        if (!seen) sync_directory(directories[i]);
    }
    return outcome;
}

}  // namespace torvex
