// The boot loader's checks on a block frame, byte by byte.
#include "sim/BlockFrame.h"

#include <gtest/gtest.h>

namespace pell::sim {
namespace {

using Verdict = BlockFrameReader::Verdict;

Verdict FeedAll(BlockFrameReader& r, const std::string& bytes, std::size_t* consumed = nullptr)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        Verdict v = r.Feed(static_cast<uint8_t>(bytes[i]));
        if (v != Verdict::None) {
            if (consumed)
                *consumed = i + 1;
            return v;
        }
    }
    if (consumed)
        *consumed = bytes.size();
    return Verdict::None;
}

std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 37 + 11) & 0xff);
    return s;
}

TEST(BlockFrame, GoodFramesOfEverySizeBoundary)
{
    for (std::size_t n : {std::size_t{1}, std::size_t{2}, std::size_t{904}, std::size_t{4095}, kBlockMax}) {
        BlockFrameReader r;
        std::string data = Pattern(n);
        std::string frame = MakeBlockFrame(data, n == 904);
        ASSERT_EQ(frame.size(), n + 5);
        std::size_t used = 0;
        ASSERT_EQ(FeedAll(r, frame, &used), Verdict::Good) << n << " " << r.problem();
        EXPECT_EQ(used, frame.size());
        EXPECT_EQ(std::string(r.data().begin(), r.data().end()), data);
        EXPECT_EQ(r.declaredLength(), n);
        EXPECT_EQ(r.last(), n == 904);
        EXPECT_FALSE(r.InFrame());
    }
}

TEST(BlockFrame, LengthIsBigEndian)
{
    std::string frame = MakeBlockFrame(Pattern(4096), false);
    EXPECT_EQ(static_cast<uint8_t>(frame[1]), 0x10);
    EXPECT_EQ(static_cast<uint8_t>(frame[2]), 0x00);
    frame = MakeBlockFrame(Pattern(904), true);
    EXPECT_EQ(static_cast<uint8_t>(frame[1]), 0x03);
    EXPECT_EQ(static_cast<uint8_t>(frame[2]), 0x88);
    EXPECT_EQ(static_cast<uint8_t>(frame.back()), kFrameLast);
}

TEST(BlockFrame, BadChecksumIsRejectedAfterTheWholeFrame)
{
    BlockFrameReader r;
    std::string frame = MakeBlockFrame(Pattern(100), false);
    frame[frame.size() - 2] = static_cast<char>(frame[frame.size() - 2] ^ 0x40);
    std::size_t used = 0;
    EXPECT_EQ(FeedAll(r, frame, &used), Verdict::Bad);
    EXPECT_EQ(used, frame.size());
    EXPECT_NE(r.problem().find("checksum"), std::string::npos);
    // A flipped data byte is caught the same way.
    frame = MakeBlockFrame(Pattern(100), false);
    frame[50] = static_cast<char>(frame[50] ^ 1);
    EXPECT_EQ(FeedAll(r, frame), Verdict::Bad);
}

TEST(BlockFrame, BadEndByteIsRejected)
{
    BlockFrameReader r;
    std::string frame = MakeBlockFrame(Pattern(10), false);
    frame.back() = 0x04;
    EXPECT_EQ(FeedAll(r, frame), Verdict::Bad);
    EXPECT_NE(r.problem().find("end byte 0x04"), std::string::npos);
}

TEST(BlockFrame, ImpossibleLengthsAndStartBytesAreRefusedAtOnce)
{
    BlockFrameReader r;
    std::size_t used = 0;
    EXPECT_EQ(FeedAll(r, std::string("\x02\x00\x00", 3), &used), Verdict::Refused);
    EXPECT_EQ(used, 3u);
    EXPECT_EQ(r.problem(), "length 0");
    EXPECT_EQ(FeedAll(r, std::string("\x02\x10\x01", 3), &used), Verdict::Refused);
    EXPECT_EQ(r.problem(), "length 4097");
    EXPECT_EQ(FeedAll(r, std::string("\x02\xff\xff", 3)), Verdict::Refused);
    EXPECT_EQ(FeedAll(r, std::string("\x03\x00\x01", 3), &used), Verdict::Refused);
    EXPECT_EQ(used, 1u);
    EXPECT_EQ(r.problem(), "start byte 0x03");
    // After a refusal the next frame is read afresh.
    EXPECT_EQ(FeedAll(r, MakeBlockFrame("abc", true)), Verdict::Good);
}

TEST(BlockFrame, CutFrameStaysOpen)
{
    BlockFrameReader r;
    std::string frame = MakeBlockFrame(Pattern(300), false);
    EXPECT_EQ(FeedAll(r, frame.substr(0, 200)), Verdict::None);
    EXPECT_TRUE(r.InFrame());
    r.Reset();
    EXPECT_FALSE(r.InFrame());
    EXPECT_EQ(FeedAll(r, frame), Verdict::Good);
}

} // namespace
} // namespace pell::sim
