#include "download/DownloadImage.h"

#include "common/FileIo.h"

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace pell {

DownloadImage::Result DownloadImage::Load(const std::string& path)
{
    Result result;
    length_ = 0;
    // Only plain files: a directory or a device has no length to trust.
    std::error_code ec;
    const std::filesystem::path name = NativePath(path);
    auto status = std::filesystem::status(name, ec);
    if (!ec && status.type() != std::filesystem::file_type::regular) {
        result.error = status.type() == std::filesystem::file_type::directory ? EISDIR : EINVAL;
        return result;
    }
    std::ifstream file(name, std::ios::in | std::ios::binary);
    if (!file) {
        result.error = errno ? errno : ENOENT;
        return result;
    }
    errno = 0;
    file.seekg(0, std::ios::end);
    std::streamoff length = file.tellg();
    if (!file || length < 0) {
        result.error = errno ? errno : EIO;
        return result;
    }
    if (length == 0 || length >= static_cast<std::streamoff>(kImageCapacity)) {
        result.status = Status::BadLength;
        return result;
    }
    file.seekg(0, std::ios::beg);
    file.read(reinterpret_cast<char*>(bytes_.get()), length);
    if (file.gcount() != length) {
        // A file that shrank or failed while being read.
        result.error = errno ? errno : EIO;
        return result;
    }
    length_ = static_cast<uint32_t>(length);
    result.status = Status::Loaded;
    result.length = length_;
    return result;
}

} // namespace pell
