#pragma once
// Whole-file reads and writes for the tool's files (configuration files,
// exports). Paths are in the file system's own encoding; on Windows they are
// UTF-8 (the window and the command line give them so), see NativePath. The error texts
// name the path and the reason ("<path>: <reason>").
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
// is replaced keeps its permission bits. On failure nothing is left behind
// and `error` (when given) says what failed.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error);

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

} // namespace pell
