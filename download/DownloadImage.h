#pragma once
// The firmware image: a *.bin file of 1 to 1,048,575 bytes read whole into
// one fixed buffer. Load either fills the buffer with the complete file or
// leaves no image at all: a file that cannot be opened, is not a plain file,
// has a length out of range or shrinks while it is read is never half-sent.
// The file is read with the core's reader of the user's files (FileIo.h):
// a named pipe, a device or a folder is refused at once, without waiting.
#include "download/DownloadFrame.h"

#include <cstdint>
#include <memory>
#include <string>

namespace pell {

class DownloadImage {
public:
    enum class Status {
        Loaded,
        FileError, // `error` and `reason` tell why
        BadLength, // empty, or kImageCapacity bytes or more
    };
    struct Result {
        Status status = Status::FileError;
        int error = 0;      // an errno value (EINVAL: no regular file, EISDIR: a folder)
        std::string reason; // the same untranslated, more precisely ("is not a regular
                            // file (a named pipe)"), without the path
        uint32_t length = 0;
    };

    DownloadImage() : bytes_(new uint8_t[kImageCapacity]()) {}

    // Reads the file at `path` (the file system's encoding).
    Result Load(const std::string& path);
    // No image any more (the download is over).
    void Clear() { length_ = 0; }

    const uint8_t* Bytes() const { return bytes_.get(); }
    uint32_t Length() const { return length_; }
    // Builds the frame of the block at `offset` into `frame`
    // (kFrameCapacity bytes); 0 when there is no such block.
    int BuildFrame(uint32_t offset, uint8_t* frame) const
    {
        return BuildBlockFrame(bytes_.get(), length_, offset, frame);
    }

private:
    std::unique_ptr<uint8_t[]> bytes_; // kImageCapacity bytes
    uint32_t length_ = 0;
};

} // namespace pell
