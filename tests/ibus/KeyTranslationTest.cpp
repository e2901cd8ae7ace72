// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "input/ibus/IBusTextClient.h"
#include "input/ibus/KeyTranslation.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

TEST(KeyTranslationTest, ReleasesAreNotKeyDowns)
{
    EXPECT_TRUE(translateKey(IBUS_KEY_a, 0).keyDown);
    EXPECT_FALSE(translateKey(IBUS_KEY_a, IBUS_RELEASE_MASK).keyDown);
}

TEST(KeyTranslationTest, ModifiersMapToCommandControlAndShift)
{
    EXPECT_EQ(translateKey(IBUS_KEY_c, IBUS_SUPER_MASK).modifierFlags, KeyEvent::kCommand);
    EXPECT_EQ(translateKey(IBUS_KEY_c, IBUS_MOD4_MASK).modifierFlags, KeyEvent::kCommand);
    EXPECT_EQ(translateKey(IBUS_KEY_c, IBUS_CONTROL_MASK).modifierFlags, KeyEvent::kControl);
    EXPECT_EQ(translateKey(IBUS_KEY_space, IBUS_SHIFT_MASK).modifierFlags, KeyEvent::kShift);
    // Alt and Caps Lock are not examined.
    EXPECT_EQ(translateKey(IBUS_KEY_a, IBUS_MOD1_MASK | IBUS_LOCK_MASK).modifierFlags, 0u);
}

TEST(KeyTranslationTest, SpecialKeysGetTheirCodesAndOthersNone)
{
    EXPECT_EQ(translateKey(IBUS_KEY_space, 0).keyCode, KeyEvent::kSpace);
    EXPECT_EQ(translateKey(IBUS_KEY_Return, 0).keyCode, KeyEvent::kReturn);
    EXPECT_EQ(translateKey(IBUS_KEY_Escape, 0).keyCode, KeyEvent::kEscape);
    EXPECT_EQ(translateKey(IBUS_KEY_BackSpace, 0).keyCode, KeyEvent::kDelete);
    EXPECT_EQ(translateKey(IBUS_KEY_Left, 0).keyCode, KeyEvent::kLeft);
    EXPECT_EQ(translateKey(IBUS_KEY_Right, 0).keyCode, KeyEvent::kRight);
    EXPECT_EQ(translateKey(IBUS_KEY_Down, 0).keyCode, KeyEvent::kDown);
    EXPECT_EQ(translateKey(IBUS_KEY_Up, 0).keyCode, KeyEvent::kUp);
    EXPECT_EQ(translateKey(IBUS_KEY_KP_Enter, 0).keyCode, KeyEvent::kKeypadEnter);
    for (unsigned other : {unsigned(IBUS_KEY_a), unsigned(IBUS_KEY_1), unsigned(IBUS_KEY_Tab),
                           unsigned(IBUS_KEY_Page_Down), unsigned(IBUS_KEY_F5)}) {
        const auto code = translateKey(other, 0).keyCode;
        for (auto special : {KeyEvent::kSpace, KeyEvent::kReturn, KeyEvent::kEscape, KeyEvent::kDelete,
                             KeyEvent::kLeft, KeyEvent::kRight, KeyEvent::kDown, KeyEvent::kUp,
                             KeyEvent::kKeypadEnter})
            EXPECT_NE(code, special) << other;
    }
}

TEST(KeyTranslationTest, CharactersAreLowercasedAndAbsentForKeysWithout)
{
    EXPECT_EQ(translateKey(IBUS_KEY_N, IBUS_SHIFT_MASK).characters, QStringLiteral("n"));
    EXPECT_EQ(translateKey(IBUS_KEY_apostrophe, 0).characters, QStringLiteral("'"));
    EXPECT_EQ(translateKey(IBUS_KEY_2, 0).characters, QStringLiteral("2"));
    EXPECT_EQ(translateKey(IBUS_KEY_space, 0).characters, QStringLiteral(" "));
    EXPECT_FALSE(translateKey(IBUS_KEY_Left, 0).characters.has_value());
    EXPECT_FALSE(translateKey(IBUS_KEY_Shift_L, 0).characters.has_value());
}

TEST(PreeditCaretTest, Utf16OffsetsBecomeCharacterCounts)
{
    const QString text = QString::fromUtf8("你\xF0\xA0\x80\x80好"); // 你, U+20000 (two units), 好
    EXPECT_EQ(IBusTextClient::characterOffset(text, 0), 0u);
    EXPECT_EQ(IBusTextClient::characterOffset(text, 1), 1u);
    EXPECT_EQ(IBusTextClient::characterOffset(text, 3), 2u);
    EXPECT_EQ(IBusTextClient::characterOffset(text, text.size()), 3u);
    // Beyond the end stays at the end.
    EXPECT_EQ(IBusTextClient::characterOffset(text, 99), 3u);
}

} // namespace
} // namespace tellwire
