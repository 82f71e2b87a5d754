// Block frames as the boot loader checks them: start byte, big-endian
// length, data, XOR of the data, end byte 0x17 (more follow) / 0x03 (last).
#include "download/DownloadFrame.h"

#include <gtest/gtest.h>

#include <vector>

namespace pell {
namespace {

std::vector<uint8_t> Pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>((i * 131 + 7) ^ (i >> 8));
    return v;
}

struct Frame {
    int length;
    std::vector<uint8_t> bytes;
};

Frame Build(const std::vector<uint8_t>& image, uint32_t offset)
{
    Frame f;
    f.bytes.assign(kFrameCapacity + 8, 0xEE); // guard bytes behind the capacity
    f.length = BuildBlockFrame(image.data(), static_cast<uint32_t>(image.size()), offset, f.bytes.data());
    return f;
}

void ExpectFrame(const Frame& f, const std::vector<uint8_t>& image, uint32_t offset, int n, uint8_t end)
{
    ASSERT_EQ(f.length, n + 5);
    EXPECT_EQ(f.bytes[0], 0x02);
    EXPECT_EQ(f.bytes[1], static_cast<uint8_t>(n >> 8));
    EXPECT_EQ(f.bytes[2], static_cast<uint8_t>(n & 0xFF));
    uint8_t sum = 0;
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(f.bytes[3 + i], image[offset + i]) << "data byte " << i;
        sum ^= image[offset + i];
    }
    EXPECT_EQ(f.bytes[3 + n], sum);
    EXPECT_EQ(f.bytes[4 + n], end);
    for (size_t i = f.length; i < f.bytes.size(); ++i)
        ASSERT_EQ(f.bytes[i], 0xEE) << "written past the frame at " << i;
}

TEST(DownloadFrame, OneByteImageIsOneLastBlock)
{
    std::vector<uint8_t> image{0xA5};
    Frame f = Build(image, 0);
    ExpectFrame(f, image, 0, 1, 0x03);
    EXPECT_EQ(f.bytes[1], 0x00);
    EXPECT_EQ(f.bytes[2], 0x01);
    EXPECT_EQ(f.bytes[3], 0xA5);
    EXPECT_EQ(f.bytes[4], 0xA5); // XOR of one byte is the byte
    EXPECT_EQ(f.bytes[5], 0x03);
}

TEST(DownloadFrame, ExactBlockIsLastWithLength1000Hex)
{
    auto image = Pattern(4096);
    Frame f = Build(image, 0);
    ExpectFrame(f, image, 0, 4096, 0x03);
    EXPECT_EQ(f.bytes[1], 0x10);
    EXPECT_EQ(f.bytes[2], 0x00);
    EXPECT_EQ(BlockCount(4096), 1);
}

TEST(DownloadFrame, OneByteOverABlockGivesFullBlockThenOneByte)
{
    auto image = Pattern(4097);
    ExpectFrame(Build(image, 0), image, 0, 4096, 0x17);
    ExpectFrame(Build(image, 4096), image, 4096, 1, 0x03);
    EXPECT_EQ(BlockCount(4097), 2);
}

TEST(DownloadFrame, TwoExactBlocksEndIn17Then03)
{
    auto image = Pattern(8192);
    ExpectFrame(Build(image, 0), image, 0, 4096, 0x17);
    ExpectFrame(Build(image, 4096), image, 4096, 4096, 0x03);
}

TEST(DownloadFrame, FiveThousandBytesAsInTheExchange)
{
    auto image = Pattern(5000);
    Frame second = Build(image, 4096);
    ExpectFrame(second, image, 4096, 904, 0x03);
    EXPECT_EQ(second.bytes[1], 0x03);
    EXPECT_EQ(second.bytes[2], 0x88);
}

TEST(DownloadFrame, LargestImageHas256Blocks)
{
    auto image = Pattern(kImageCapacity - 1);
    EXPECT_EQ(BlockCount(kImageCapacity - 1), 256);
    ExpectFrame(Build(image, 254 * 4096), image, 254 * 4096, 4096, 0x17);
    ExpectFrame(Build(image, 255 * 4096), image, 255 * 4096, 4095, 0x03);
}

TEST(DownloadFrame, NothingAtOrPastTheEnd)
{
    auto image = Pattern(10);
    EXPECT_EQ(Build(image, 10).length, 0);
    EXPECT_EQ(Build(image, 11).length, 0);
    EXPECT_EQ(BuildBlockFrame(nullptr, 0, 0, nullptr), 0);
}

TEST(DownloadFrame, ChecksumIgnoresTheHeader)
{
    // Data whose XOR is zero: the header bytes must not leak into it.
    std::vector<uint8_t> image{0x10, 0x10, 0x02, 0x02};
    Frame f = Build(image, 0);
    EXPECT_EQ(f.bytes[3 + 4], 0x00);
}

} // namespace
} // namespace pell
