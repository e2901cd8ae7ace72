#include "ui/HexColor.h"

#include <QString>

#include <gtest/gtest.h>

namespace tellwire {
namespace {

TEST(HexColorTest, ReadsTheLowTwentyFourBitsOrGivesTheDefaultTeal)
{
    constexpr HexColor teal{0x0c, 0x94, 0x88};
    const std::pair<const char16_t*, HexColor> cases[] = {
        {u"#0c9488", teal}, {u"0c9488", teal}, {u"##0c9488#", teal},
        {u"#7C3AED", {0x7c, 0x3a, 0xed}},
        {u"#fff", {0x00, 0x0f, 0xff}}, // short forms are numbers, not abbreviations
        {u"#0c9488ff", {0x94, 0x88, 0xff}}, // only the low 24 bits count
        {u"00000000000000000000abc", {0x00, 0x0a, 0xbc}}, // leading zeros fit in 64 bits
        {u"#+0000ff", {0, 0, 0xff}},
        // Unreadable: the default teal.
        {u"#-0000ff", teal}, {u"#+", teal}, {u"", teal}, {u"###", teal}, {u"#12345g", teal},
        {u" #ffffff", teal},          // blanks are not removed
        {u"#ff#ff", teal},            // inner hash signs stay
        {u"ffffffffffffffff", {0xff, 0xff, 0xff}},
        {u"1ffffffffffffffff", teal}, // beyond 64 bits
        {u"#０c9488", teal},          // full-width digit
    };
    for (const auto& [text, colour] : cases) {
        const HexColor parsed = HexColor::parse(QStringView(text));
        EXPECT_EQ(parsed, colour) << QString::fromUtf16(text).toStdString() << " gave " << parsed.red << ","
                                  << parsed.green << "," << parsed.blue;
    }
}

} // namespace
} // namespace tellwire
