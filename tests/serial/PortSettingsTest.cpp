#include "serial/PortSettings.h"

#include <gtest/gtest.h>

using namespace pell;

TEST(PortSettings, ComboTextsBecomeLineSettings)
{
    EXPECT_EQ(StopBitsFromText("1.5"), 1);
    EXPECT_EQ(StopBitsFromText("2"), 2);
    EXPECT_EQ(StopBitsFromText("1"), 0);
    EXPECT_EQ(StopBitsFromText("3"), 0);
    EXPECT_EQ(StopBitsFromText(""), 0);

    EXPECT_EQ(ParityFromText("None"), 0);
    EXPECT_EQ(ParityFromText("Odd"), 1);
    EXPECT_EQ(ParityFromText("Even"), 2);
    EXPECT_EQ(ParityFromText("Mark"), 3);
    EXPECT_EQ(ParityFromText("Space"), 4);
    EXPECT_EQ(ParityFromText("mark"), 0); // compared exactly
    EXPECT_EQ(ParityFromText("xyz"), 0);

    EXPECT_EQ(LeadingNumber("115200"), 115200u);
    EXPECT_EQ(LeadingNumber("250000"), 250000u); // typed rates outside the list
    EXPECT_EQ(LeadingNumber("abc"), 0u);          // not a number: the driver refuses 0
    EXPECT_EQ(LeadingNumber(""), 0u);
    EXPECT_EQ(LeadingNumber("99999999999999999999"), 0u);
}
