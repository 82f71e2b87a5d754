// The reply window: what the boot loader said since the last clear, searched
// for "boot update" and "err_".
#include "download/ReplyWindow.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace pell {
namespace {

void Add(ReplyWindow& w, const std::string& s)
{
    w.Append(s.data(), static_cast<int>(s.size()));
}

TEST(ReplyWindow, WordsSplitOverChunksAreFound)
{
    auto w = std::make_unique<ReplyWindow>();
    Add(*w, "boo");
    EXPECT_FALSE(w->Contains("boot update"));
    Add(*w, "t upd");
    Add(*w, "ate\r\n");
    EXPECT_TRUE(w->Contains("boot update"));
    EXPECT_EQ(w->Fill(), 13);
}

TEST(ReplyWindow, ZeroBytesBecomeBlanksSoTheSearchSeesPastThem)
{
    auto w = std::make_unique<ReplyWindow>();
    Add(*w, std::string("\0\0xx\0boot update", 16));
    EXPECT_TRUE(w->Contains("boot update"));
    EXPECT_EQ(w->Text(), std::string("  xx boot update"));
    Add(*w, std::string("e\0rr_", 5));
    EXPECT_FALSE(w->Contains("err_")); // a blank inside the word is not the word
}

TEST(ReplyWindow, ClearEmptiesEverything)
{
    auto w = std::make_unique<ReplyWindow>();
    Add(*w, "err_1");
    w->Clear();
    EXPECT_EQ(w->Fill(), 0);
    EXPECT_FALSE(w->Contains("err_"));
    Add(*w, "r_");
    EXPECT_FALSE(w->Contains("err_"));
}

TEST(ReplyWindow, FullWindowKeepsItsLast100CharactersInFront)
{
    auto w = std::make_unique<ReplyWindow>();
    std::string filler(4000, 'x');
    filler.replace(3990, 4, "boot");
    Add(*w, filler);
    ASSERT_EQ(w->Fill(), 4000);
    Add(*w, std::string(96, 'y')); // exactly full
    ASSERT_EQ(w->Fill(), 4096);
    Add(*w, " update");
    EXPECT_EQ(w->Fill(), 107);
    // The carried text is the last 100 characters before the chunk.
    EXPECT_EQ(w->Text().substr(0, 100), std::string(4, 'x') + std::string(96, 'y'));
    EXPECT_EQ(w->Text().substr(100), " update");
    EXPECT_FALSE(w->Contains("boot update")); // "boot" was further back
    Add(*w, "boot update");
    EXPECT_TRUE(w->Contains("boot update"));
}

TEST(ReplyWindow, WordSplitAcrossTheCarryOverIsFound)
{
    auto w = std::make_unique<ReplyWindow>();
    Add(*w, std::string(4090, '.') + "boot u");
    Add(*w, "pdate");
    EXPECT_TRUE(w->Contains("boot update"));
}

TEST(ReplyWindow, ChunkLargerThanWhatFitsKeepsItsLastBytes)
{
    auto w = std::make_unique<ReplyWindow>();
    Add(*w, std::string(500, 'a'));
    std::string big(3997, 'b');
    big.replace(big.size() - 4, 4, "err_");
    Add(*w, big); // 500 + 3997 > 4096; 100 + 3997 > 4096 as well
    EXPECT_EQ(w->Fill(), 4096);
    EXPECT_TRUE(w->Contains("err_"));
    EXPECT_EQ(w->Text().substr(0, 99), std::string(99, 'a'));
}

TEST(ReplyWindow, HugeChunkKeepsOnlyItsTail)
{
    auto w = std::make_unique<ReplyWindow>();
    Add(*w, "boot");
    std::string huge(80968, '\0');
    huge.replace(huge.size() - 11, 11, "boot update");
    Add(*w, huge);
    EXPECT_EQ(w->Fill(), 4096);
    EXPECT_TRUE(w->Contains("boot update"));
    EXPECT_EQ(w->Text().find("boot"), 4085u); // the old "boot" is gone
    // The window is still zero-terminated inside its own storage.
    EXPECT_EQ(w->Text().size(), 4096u);
}

TEST(ReplyWindow, EmptyAndNegativeChunksChangeNothing)
{
    auto w = std::make_unique<ReplyWindow>();
    Add(*w, "abc");
    w->Append("zzz", 0);
    w->Append("zzz", -5);
    EXPECT_EQ(w->Text(), "abc");
}

} // namespace
} // namespace pell
