#include "ui/TextRules.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

// A letter with a combining accent, and a family emoji, are one character each.
TEST(TextRulesTest, CountsAndCutsUserPerceivedCharacters)
{
    EXPECT_EQ(TextRules::perceivedLength(QStringLiteral("验证码")), 3);
    EXPECT_EQ(TextRules::perceivedLength(QStringLiteral("12\U0001F468\u200D\U0001F469\u200D\U0001F467")), 3);
    EXPECT_EQ(TextRules::leftPerceived(QStringLiteral("#abc"), 7), QStringLiteral("#abc"));
    EXPECT_EQ(TextRules::leftPerceived(QStringLiteral("#12345e\u0301f"), 7), QStringLiteral("#12345e\u0301"));
    EXPECT_EQ(TextRules::leftPerceived(QStringLiteral("#\U0001F600\U0001F600"), 2), QStringLiteral("#\U0001F600"));
}

TEST(TextRulesTest, TrimsSpaceSeparatorsAndTabsButNotLineBreaks)
{
    const std::pair<QString, QString> cases[] = {
        {" \u3000\t13800138000\u00a0\t ", "13800138000"},
        {"\u3000138 0013 8000 ", "138 0013 8000"},
        {" \n123456\r ", "\n123456\r"},
        {"\u2003\u3000\t", ""},
    };
    for (const auto& [text, trimmed] : cases)
        EXPECT_EQ(TextRules::trimBlanks(text), trimmed) << text.toStdString();
}

} // namespace
} // namespace tellwire
