#pragma once
// A directory of its own under the system's temporary folder, removed with
// everything in it when the object goes.
#include <string>
#include <vector>

namespace pell::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return dir_; }
    // The path of a file in the directory.
    std::string File(const std::string& name) const { return dir_ + "/" + name; }
    // Writes a file plainly (test set-up); false when it could not.
    bool Write(const std::string& name, const std::string& bytes) const;
    // The whole file, or "<missing>".
    std::string Read(const std::string& name) const;
    // The names in the directory, sorted.
    std::vector<std::string> Names() const;

private:
    std::string dir_;
};

// While it lives, no file this process writes may grow beyond `bytes`: a
// write past it fails (EFBIG) instead of raising SIGXFSZ. A full disk that
// even root cannot write past.
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long oldSoft_ = 0;
    void (*oldHandler_)(int) = nullptr;
};

} // namespace pell::test
