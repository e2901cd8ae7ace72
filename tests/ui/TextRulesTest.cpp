#include "ui/TextRules.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

TEST(TextRulesTest, CountsUserPerceivedCharacters)
{
    EXPECT_EQ(TextRules::perceivedLength(QString()), 0);
    EXPECT_EQ(TextRules::perceivedLength(QStringLiteral("123456")), 6);
    EXPECT_EQ(TextRules::perceivedLength(QStringLiteral("验证码")), 3);
    // A letter with a combining accent, and a family emoji, are one character each.
    EXPECT_EQ(TextRules::perceivedLength(QStringLiteral("e\u0301")), 1);
    EXPECT_EQ(TextRules::perceivedLength(QStringLiteral("12\U0001F468\u200D\U0001F469\u200D\U0001F467")), 3);
}

TEST(TextRulesTest, LeftPerceivedNeverSplitsACharacter)
{
    EXPECT_EQ(TextRules::leftPerceived(QStringLiteral("#2563ebaa"), 7), QStringLiteral("#2563eb"));
    EXPECT_EQ(TextRules::leftPerceived(QStringLiteral("#abc"), 7), QStringLiteral("#abc"));
    EXPECT_EQ(TextRules::leftPerceived(QStringLiteral("#12345e\u0301f"), 7),
              QStringLiteral("#12345e\u0301"));
    EXPECT_EQ(TextRules::leftPerceived(QStringLiteral("#\U0001F600\U0001F600"), 2),
              QStringLiteral("#\U0001F600"));
}

TEST(TextRulesTest, TrimsSpaceSeparatorsAndTabsButNotLineBreaks)
{
    EXPECT_EQ(TextRules::trimBlanks(QStringLiteral(" \u3000\t13800138000\u00a0\t ")),
              QStringLiteral("13800138000"));
    EXPECT_EQ(TextRules::trimBlanks(QStringLiteral("\u3000138 0013 8000 ")),
              QStringLiteral("138 0013 8000"));
    EXPECT_EQ(TextRules::trimBlanks(QStringLiteral("\n123456\n")), QStringLiteral("\n123456\n"));
    EXPECT_EQ(TextRules::trimBlanks(QStringLiteral(" \n123456\r ")), QStringLiteral("\n123456\r"));
    EXPECT_EQ(TextRules::trimBlanks(QStringLiteral("\u2003\u3000\t")), QString());
}

} // namespace
} // namespace tellwire
