#pragma once
// A firmware image file of a given size in a directory of its own, removed
// with the object.
#include <cstddef>
#include <string>

namespace pell::test {

class TempImage {
public:
    explicit TempImage(std::size_t size, unsigned seed = 1);
    ~TempImage();
    TempImage(const TempImage&) = delete;
    TempImage& operator=(const TempImage&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& Dir() const { return dir_; }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string dir_;
    std::string path_;
    std::string bytes_;
};

} // namespace pell::test
