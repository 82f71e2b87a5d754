#include "download/DownloadFrame.h"

#include <cstring>

namespace pell {

BlockSpan BlockAt(uint32_t imageLength, uint32_t offset)
{
    BlockSpan span;
    if (offset >= imageLength)
        return span;
    if (static_cast<uint64_t>(offset) + kBlockSize < imageLength) {
        span.length = kBlockSize;
        span.last = false;
    } else {
        span.length = static_cast<int>(imageLength - offset);
        span.last = true;
    }
    return span;
}

int BuildBlockFrame(const uint8_t* image, uint32_t imageLength, uint32_t offset, uint8_t* frame)
{
    BlockSpan span = BlockAt(imageLength, offset);
    if (span.length == 0)
        return 0;
    const uint8_t* data = image + offset;
    frame[0] = kFrameStart;
    frame[1] = static_cast<uint8_t>(span.length >> 8);
    frame[2] = static_cast<uint8_t>(span.length & 0xFF);
    std::memcpy(frame + 3, data, static_cast<size_t>(span.length));
    uint8_t sum = 0;
    for (int i = 0; i < span.length; ++i)
        sum ^= data[i];
    frame[3 + span.length] = sum;
    frame[4 + span.length] = span.last ? kFrameLast : kFrameMore;
    return span.length + kFrameOverhead;
}

int LoaderAnswerEnd(const char* bytes, int length)
{
    for (int i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == static_cast<unsigned char>(kLoaderPresent))
            return i + 1;
        const bool text = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                          (c >= 'a' && c <= 'z') || c == ' ';
        if (text)
            return 0; // text, not noise
    }
    return 0;
}

} // namespace pell
