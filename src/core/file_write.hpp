// Replacing whole files without ever leaving one empty or cut short.
//
// A batch of files is written in two phases. Preparing resolves each target
// (symbolic links are followed to the file they name, so the link stays),
// checks that the target itself may be written, and writes the new content
// to a temporary file beside it, flushed to disk, with the target's
// permission bits and, where allowed, its owner. Only when every file of the
// batch is prepared does committing rename each temporary file over its
// target; a failure while preparing removes the temporary files and leaves
// every target as it was.
//
// A target whose directory refuses a new file but which is itself writable
// is rewritten in place while committing (truncated and written), the one
// case where a failure can still leave it short.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "core/os_error.hpp"
#include <string_view>
#include <vector>

namespace torvex {

struct FileReplacement {
    std::string path;          // as the caller names it; used in failures
    std::string_view content;  // must stay valid until the batch is done
};

struct FileWriteFailure {
    enum class Kind {
        Io,            // `reason` is the operating system's text (or "not a regular file")
        SameTarget,    // `index` names, through another path, a file `other` already replaces with other content
    };
    Kind kind = Kind::Io;
    std::size_t index = 0;  // the failing entry of the batch
    std::size_t other = 0;  // SameTarget: the earlier entry
    int code = 0;           // errno, when there is one
    std::string reason;
};

struct FileWriteOutcome {
    // Entries whose target received their content, in the order committed.
    // An entry naming the same file as an earlier one with the same content
    // is not written again and not listed.
    std::vector<std::size_t> written;
    // The first failure. While preparing: `written` is empty and no target
    // changed. While committing (a rename refused, an in-place write cut
    // short): the entries before it stay written, the rest untouched.
    std::optional<FileWriteFailure> failure;
};

FileWriteOutcome replace_files(const std::vector<FileReplacement>& batch);

}  // namespace torvex
