// The few file-system operations the directive loader needs, over plain POSIX
// calls: path texts joined and normalised as strings, canonical paths,
// directory listings, and reading regular files only (a FIFO, device or
// socket named by a directive is refused without being opened for long).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvex::directives {

// `dir` joined with `name`; an absolute `name` replaces `dir`.
std::string join_path(std::string_view dir, std::string_view name);

// The path without its last component; empty when it has no parent part.
std::string parent_path(std::string_view path);

// The last component of a path.
std::string_view last_component(std::string_view path);

// Absolute (against the current directory) with ".", ".." and repeated
// slashes resolved as text, without consulting links.
std::string lexically_absolute(std::string_view path);

// Symbolic links, ".", ".." resolved against the file system; nothing when
// the path does not exist or a link in it dangles.
std::optional<std::string> canonical_path(const std::string& path);

// `path` is `root` or lies below it, compared component-wise (both normalised).
bool is_within(std::string_view path, std::string_view root);

bool is_directory(const std::string& path);     // links followed
bool is_symbolic_link(const std::string& path);  // the path itself, not followed

// A whole regular file as bytes; anything else (a directory, FIFO, device,
// socket) or a failing call gives the reason as an error text.
struct FileRead {
    std::optional<std::string> bytes;
    std::string reason;  // when there are no bytes: the operating system's text, or "not a regular file"
};
FileRead read_regular_file(const std::string& path);

// An open directory, listed and kept open so that its files are opened
// relative to it: the kernel then walks one path component, not the whole path.
class OpenDirectory {
public:
    explicit OpenDirectory(int fd) noexcept : fd_(fd) {}
    ~OpenDirectory();
    OpenDirectory(const OpenDirectory&) = delete;
    OpenDirectory& operator=(const OpenDirectory&) = delete;
    int fd() const noexcept { return fd_; }

private:
    int fd_;
};

// The same as read_regular_file for the entry `name` of `directory`, an entry
// the listing gave as a regular file: it is opened without following a link,
// so one that became a link since it was listed is refused, not followed.
FileRead read_regular_file_at(const OpenDirectory& directory, const std::string& name);

// What a directory entry is, as the listing tells without another call:
// `Other` for links and whatever the file system does not report.
enum class EntryType { File, Directory, Other };

struct DirectoryEntry {
    std::string name;
    EntryType type = EntryType::Other;
};

// The entries of a directory, "." and ".." left out; the reason when it cannot be listed.
struct DirectoryList {
    std::vector<DirectoryEntry> entries;
    std::optional<std::string> failure;
    bool link = false;  // not listed: the path names a symbolic link (only without `follow`)
    std::shared_ptr<const OpenDirectory> open;  // with `keep_open`, when it could be kept
};
// Without `follow`, a path whose last component is a symbolic link is not
// listed (`link` says so): the caller resolves it first. With `keep_open`,
// the directory stays open for read_regular_file_at.
DirectoryList list_directory(const std::string& path, bool follow = true, bool keep_open = false);

}  // namespace torvex::directives
