#include "download/DownloadImage.h"

#include "common/FileIo.h"

#include <cstring>

namespace pell {

DownloadImage::Result DownloadImage::Load(const std::string& path)
{
    Result result;
    length_ = 0;
    // A file longer than an image may be is refused for its length
    // without being read.
    std::string bytes;
    FileFailure failure;
    switch (ReadWholeFile(path, bytes, failure, kImageCapacity - 1)) {
    case FileRead::Done:
        break;
    case FileRead::TooLarge:
        result.status = Status::BadLength;
        return result;
    case FileRead::Failed:
        result.error = failure.code;
        result.reason = failure.reason;
        return result;
    }
    if (bytes.empty()) {
        result.status = Status::BadLength;
        return result;
    }
    std::memcpy(bytes_.get(), bytes.data(), bytes.size());
    length_ = static_cast<uint32_t>(bytes.size());
    result.status = Status::Loaded;
    result.length = length_;
    return result;
}

} // namespace pell
