#include "tests/download/TempImage.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace pell::test {

TempImage::TempImage(std::size_t size, unsigned seed)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pellimage-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    path_ = dir_ + "/firmware.bin";
    // Every byte value occurs, zeros and the frame bytes (0x02, 0x03, 0x05,
    // 0x17) included, and no two blocks are alike.
    bytes_.resize(size);
    uint32_t x = 2463534242u ^ seed;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes_[i] = static_cast<char>(x >> 24);
    }
    std::ofstream out(path_, std::ios::binary);
    out.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
    if (!out)
        throw std::runtime_error("cannot write the image file");
}

TempImage::~TempImage()
{
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

} // namespace pell::test
