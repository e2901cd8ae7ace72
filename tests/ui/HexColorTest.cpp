#include "ui/HexColor.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tellwire {

static std::ostream& operator<<(std::ostream& out, const HexColor& c)
{
    return out << "rgb(" << c.red << "," << c.green << "," << c.blue << ")";
}

namespace {

constexpr HexColor kTeal{0x0c, 0x94, 0x88};

TEST(HexColorTest, HashSignsAroundTheDigitsAreIgnored)
{
    EXPECT_EQ(HexColor::parse(u"#0c9488"), kTeal);
    EXPECT_EQ(HexColor::parse(u"0c9488"), kTeal);
    EXPECT_EQ(HexColor::parse(u"##0c9488#"), kTeal);
    EXPECT_EQ(HexColor::parse(u"#7C3AED"), (HexColor{0x7c, 0x3a, 0xed}));
    EXPECT_EQ(HexColor::parse(u"#2563eb"), (HexColor{0x25, 0x63, 0xeb}));
}

TEST(HexColorTest, ShortFormsAreNumbersNotAbbreviations)
{
    EXPECT_EQ(HexColor::parse(u"#fff"), (HexColor{0x00, 0x0f, 0xff}));
    EXPECT_EQ(HexColor::parse(u"#abc"), (HexColor{0x00, 0x0a, 0xbc}));
}

TEST(HexColorTest, OnlyTheLowTwentyFourBitsCount)
{
    EXPECT_EQ(HexColor::parse(u"#0c9488ff"), (HexColor{0x94, 0x88, 0xff}));
    EXPECT_EQ(HexColor::parse(u"ffffffffffffffff"), (HexColor{0xff, 0xff, 0xff}));
    // Leading zeros keep a long text within 64 bits.
    EXPECT_EQ(HexColor::parse(u"00000000000000000000abc"), (HexColor{0x00, 0x0a, 0xbc}));
}

TEST(HexColorTest, APlusSignIsAcceptedAndNothingElse)
{
    EXPECT_EQ(HexColor::parse(u"#+0000ff"), (HexColor{0, 0, 0xff}));
    EXPECT_EQ(HexColor::parse(u"#-0000ff"), kTeal);
    EXPECT_EQ(HexColor::parse(u"#+"), kTeal);
    EXPECT_EQ(HexColor::parse(u"#++ff"), kTeal);
}

TEST(HexColorTest, UnreadableTextGivesTheDefaultTeal)
{
    EXPECT_EQ(HexColor::parse(u""), kTeal);
    EXPECT_EQ(HexColor::parse(u"#"), kTeal);
    EXPECT_EQ(HexColor::parse(u"###"), kTeal);
    EXPECT_EQ(HexColor::parse(u"#12345g"), kTeal);
    EXPECT_EQ(HexColor::parse(u" #ffffff"), kTeal);  // blanks are not removed
    EXPECT_EQ(HexColor::parse(u"#ff#ff"), kTeal);    // inner hash signs stay
    EXPECT_EQ(HexColor::parse(u"1ffffffffffffffff"), kTeal); // beyond 64 bits
    EXPECT_EQ(HexColor::parse(u"#０c9488"), kTeal);  // full-width digit
}

} // namespace
} // namespace tellwire
