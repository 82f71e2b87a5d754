#pragma once
// Block frames for the boot loader: 0x02, length high, length low, the data,
// the XOR of the data, then 0x17 when more blocks follow or 0x03 on the last.
#include <cstdint>

namespace pell {

constexpr uint32_t kImageCapacity = 1048576;  // an image must be shorter than this
constexpr int kBlockSize = 4096;
constexpr int kFrameOverhead = 5;
constexpr int kFrameCapacity = kBlockSize + kFrameOverhead; // 4101

constexpr uint8_t kFrameStart = 0x02;
constexpr uint8_t kFrameMore = 0x17;
constexpr uint8_t kFrameLast = 0x03;

// Bytes of the handshake and the answers.
constexpr char kBootHandshake = 'B';
constexpr char kLoaderHandshake = 'P';
constexpr char kLoaderPresent = 'P';
constexpr char kTransferGo = 0x06;
constexpr char kBlockAccepted = 0x05;

// Number of blocks an image of `length` bytes is sent in.
constexpr int BlockCount(uint32_t length)
{
    return static_cast<int>((length + kBlockSize - 1) / kBlockSize);
}

// The block that starts at `offset`: its data length, and whether it is the
// last one (offset + 4096 reaches the image length).
struct BlockSpan {
    int length = 0;
    bool last = true;
};
BlockSpan BlockAt(uint32_t imageLength, uint32_t offset);

// Builds the frame of the block at `offset` into `frame` (room for
// kFrameCapacity bytes) and returns its length; 0 when offset is not below
// imageLength. No allocation: the frame is written in place.
int BuildBlockFrame(const uint8_t* image, uint32_t imageLength, uint32_t offset, uint8_t* frame);

// The boot loader's handshake answer in a received chunk: a 'P' with nothing
// but line noise in front of it (zero bytes, control bytes, punctuation,
// bytes above 0x7E), so that noise does not hide it while a text such as
// "boot update, waiting for P" is no answer (letters, digits or blanks come
// first). Returns the index behind that 'P', or 0 when the chunk holds none.
int LoaderAnswerEnd(const char* bytes, int length);

} // namespace pell
