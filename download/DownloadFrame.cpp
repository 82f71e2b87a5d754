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

} // namespace pell
