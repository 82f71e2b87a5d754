#pragma once
// Whole-file reads and writes for the files the user names (configuration
// files, answer tables, firmware images, exports, saved logs). Paths are in
// the file system's own encoding; on Windows they are UTF-8 (the window and
// the command line give them so), see NativePath. The error texts name the
// path and the reason ("<path>: <reason>"), in the paths' encoding: the C
// library's untranslated reason here, the system's own words in UTF-8 on
// Windows.
//
// Only regular files are read or replaced. A named pipe, a device or a
// folder is refused at once, without waiting: a pipe that nobody writes
// would otherwise hold the open (and the window or the command with it)
// until someone else acts.
#include <cstddef>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>

namespace pell {

// The file a path text names, for std::filesystem and the file streams. On
// Windows a text that is valid UTF-8 is read as UTF-8, any other (a name
// from elsewhere in the system's code page) as that; elsewhere the text is
// the name.
std::filesystem::path NativePath(const std::string& text);

// Replaces (or creates) the file at `path` with exactly `bytes`, or leaves
// whatever stood there untouched: the bytes go into a new file beside it,
// every write, the flush to the disk and the close are checked, and only
// then does the new file take the old one's name in one step. A file that
// is replaced keeps its permission bits. An existing file that the user may
// not write (its permission bits, or the read-only attribute on Windows) is
// not replaced, although the folder would allow it: kReadOnlyReason. On
// failure nothing is left behind and `error` (when given) says what failed.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error);

// The reasons of our own (the others are the system's texts).
inline constexpr char kNotRegularReason[] = "is not a regular file"; // followed by " (a named pipe)" etc.
inline constexpr char kReadOnlyReason[] = "Permission denied (the file is read-only)";

enum class FileRead {
    Done,     // `bytes` holds the whole file
    TooLarge, // the file is longer than the limit; nothing was read
    Failed,   // it could not be opened or read whole; `error` says why
};

// Reads the whole file into `bytes` (a fresh buffer of the file's length).
// A read that ends before the length the file had when it was opened is a
// failure, as is a file that is no regular file. `bytes` is empty unless
// the result is Done.
FileRead ReadWholeFile(const std::string& path, std::string& bytes, std::string* error,
                       std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// A failed read as callers that speak errno need it.
struct FileFailure {
    int code = 0;       // an errno value: EISDIR for a folder, EINVAL for another file
                        // that is no regular file, EIO for a file that changed while read
    std::string reason; // untranslated, without the path
};
FileRead ReadWholeFile(const std::string& path, std::string& bytes, FileFailure& failure,
                       std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// Reads the first `maxBytes` of a file (all of a shorter one), for files
// whose rest would not be used anyway. Never TooLarge.
FileRead ReadFileStart(const std::string& path, std::string& bytes, std::string* error, std::size_t maxBytes);

} // namespace pell
