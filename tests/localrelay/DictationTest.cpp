#include "Dictation.h"
#include "PhoneNumber.h"

#include <gmock/gmock.h>

using namespace tellwire;
using testing::ElementsAre;

TEST(Dictation, InterimsGrowByWholeCharactersAndStopShortOfTheFinal)
{
    EXPECT_THAT(Dictation::interims("你好世界，今天"), ElementsAre("你好世", "你好世界，今"));
    EXPECT_THAT(Dictation::interims("abcdef"), ElementsAre("abc"));
    EXPECT_THAT(Dictation::interims("你好"), testing::IsEmpty());
    EXPECT_THAT(Dictation::interims("a😀bcd", 2), ElementsAre("a😀", "a😀bc"));
}

TEST(Dictation, LongLinesAreCutOnCharacterBoundariesWithoutLosingText)
{
    std::string line;
    for (int i = 0; i < 3000; ++i)
        line += "字"; // 3 bytes each: 9000 bytes
    const auto pieces = Dictation::pieces(line, 4000);
    ASSERT_EQ(pieces.size(), 3u);
    std::string joined;
    for (const auto& piece : pieces) {
        EXPECT_LE(piece.size(), 4000u);
        EXPECT_EQ(piece.size() % 3, 0u) << "cut inside a character";
        joined += piece;
    }
    EXPECT_EQ(joined, line);
    EXPECT_THAT(Dictation::pieces("short", 4000), ElementsAre("short"));
}

TEST(PhoneNumberRule, MatchesTheDesktopsPatternAndNamesTheAccount)
{
    EXPECT_EQ(accountNumber("13800138000"), "13800138000");
    EXPECT_EQ(accountNumber("8619912345678"), "19912345678");
    EXPECT_EQ(accountNumber("+8613800138000"), "13800138000");
    for (const char* bad : {"10800138000", "11800138000", "12800138000", "1380013800", "+86 13800138000",
                            "138 00138000", "+13800138000", "0086138001380000", "13800138000\n"})
        EXPECT_FALSE(accountNumber(bad)) << bad;
}
