// The receive store: filling, restarting, generations, and the display
// updates with their line breaks, also while chunks keep arriving.
#include "debug/ReceiveStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace pell;

namespace {

// What a display shows after applying updates the way the page does.
struct Display {
    DisplayCursor cursor;
    std::string text;
    DisplayUpdate apply(const ReceiveStore& s)
    {
        DisplayUpdate up = s.Update(cursor);
        if (up.replace)
            text = up.text;
        else if (up.changed)
            text += up.text;
        return up;
    }
};

std::string renderText(std::string_view bytes)
{
    DisplayCursor c;
    std::string out;
    ReceiveStore::RenderText(out, bytes, c);
    return out;
}

} // namespace

TEST(ReceiveStore, RendersTextAndHexAsTheDisplayShowsThem)
{
    struct Case {
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {std::string("A\0B", 3), "A#B"},
        {"a\r\nb\nc", "a\nb\nc"},
        {"a\rb", "ab"},
        {"\xB0\xA1x", "\xB0\xA1x"},
        {"\xB0\x0A", "\xB0\n"},       // a lead byte without its second byte stands alone
        {"\xB0", ""},                 // held back until its second byte comes
    };
    for (const auto& c : cases)
        EXPECT_EQ(renderText(c.bytes), c.text);

    std::string hex;
    ReceiveStore::RenderHex(hex, std::string("\x41\x00\x42", 3), 0);
    EXPECT_EQ(hex, "41 00 42 ");
}

TEST(ReceiveStore, LinesBreakEvery32HexBytesAndAfter1KiBOfText)
{
    std::string hex;
    ReceiveStore::RenderHex(hex, std::string(70, '\x11'), 0);
    EXPECT_EQ(std::count(hex.begin(), hex.end(), '\n'), 2);
    EXPECT_EQ(hex.find('\n'), 32u * 3);
    // Continuing at position 30: the break comes after two more bytes.
    std::string more;
    ReceiveStore::RenderHex(more, std::string(3, '\x22'), 30);
    EXPECT_EQ(more, "22 22 \n22 ");

    // 1,023 single bytes, then a double-byte character: the break follows
    // the character, never splits it.
    const std::string text = std::string(1023, 'a') + "\xB0\xA1" + "b";
    const std::string shown = renderText(text);
    EXPECT_EQ(shown, std::string(1023, 'a') + "\xB0\xA1\nb");

    // Split over two updates, the character is still kept whole.
    DisplayCursor c;
    std::string out;
    ReceiveStore::RenderText(out, text.substr(0, 1024), c);
    EXPECT_EQ(out, std::string(1023, 'a'));
    ReceiveStore::RenderText(out, text.substr(1024), c);
    EXPECT_EQ(out, shown);
}

TEST(ReceiveStore, ExactFillKeepsTheBytesOneMoreRestartsAndRedraws)
{
    ReceiveStore s;
    s.SetHex(true);
    Display d;
    const std::string half(ReceiveStore::kCapacity / 2, 'x');
    EXPECT_FALSE(s.Append(half.data(), static_cast<int>(half.size())));
    d.apply(s);
    EXPECT_FALSE(s.Append(half.data(), static_cast<int>(half.size())));
    DisplayUpdate up = d.apply(s);
    EXPECT_FALSE(up.replace);
    EXPECT_EQ(up.fill, 524288);
    EXPECT_EQ(s.Fill(), 524288);
    const uint64_t generation = s.Generation();

    EXPECT_TRUE(s.Append("\x01\x02", 2));
    EXPECT_EQ(s.Fill(), 2);
    EXPECT_EQ(s.Generation(), generation + 1);
    up = d.apply(s);
    EXPECT_TRUE(up.replace);
    EXPECT_EQ(d.text, "01 02 ");
    EXPECT_EQ(up.fill, 2);

    // A chunk larger than the store keeps its first 524,288 bytes.
    const std::string big = std::string(ReceiveStore::kCapacity, 'y') + "z";
    EXPECT_TRUE(s.Append(big.data(), static_cast<int>(big.size())));
    EXPECT_EQ(s.Fill(), 524288);
    EXPECT_EQ(s.Contents(), big.substr(0, 524288));
}

TEST(ReceiveStore, ClearAndModeSwitchRedrawEverything)
{
    ReceiveStore s;
    Display d;
    s.Append("AB", 2);
    d.apply(s);
    EXPECT_EQ(d.text, "AB");
    EXPECT_FALSE(d.apply(s).changed); // nothing new
    s.SetHex(true);
    d.apply(s);
    EXPECT_EQ(d.text, "41 42 ");
    s.Clear();
    EXPECT_TRUE(d.apply(s).replace);
    EXPECT_EQ(d.text, "");
    s.Clear();
    const DisplayUpdate up = d.apply(s);
    EXPECT_EQ(d.text, "");
    EXPECT_EQ(up.fill, 0);
}

TEST(ReceiveStore, ClearWhileChunksArriveNeverMixesOldAndNew)
{
    ReceiveStore s;
    s.SetHex(true);
    std::atomic<bool> done{false};
    std::atomic<int> chunks{0};
    std::thread writer([&] {
        // Enough chunks to overflow the store several times.
        std::string chunk(997, '\0');
        for (int i = 0; i < 3000; ++i) {
            std::fill(chunk.begin(), chunk.end(), static_cast<char>(i));
            s.Append(chunk.data(), static_cast<int>(chunk.size()));
            chunks.fetch_add(1);
        }
        done.store(true);
    });
    Display d;
    int clears = 0;
    while (!done.load()) {
        const DisplayUpdate up = d.apply(s);
        // The display holds exactly the store's bytes of the moment.
        std::string flat = d.text;
        flat.erase(std::remove(flat.begin(), flat.end(), '\n'), flat.end());
        ASSERT_EQ(flat.size(), static_cast<std::size_t>(up.fill) * 3);
        if (chunks.load() / 200 > clears) {
            s.Clear();
            ++clears;
        }
    }
    writer.join();
    d.apply(s);
    std::string expected;
    ReceiveStore::RenderHex(expected, s.Contents(), 0);
    EXPECT_EQ(d.text, expected);
}
