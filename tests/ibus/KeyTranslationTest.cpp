// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "input/ibus/IBusTextClient.h"
#include "input/ibus/KeyTranslation.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

TEST(KeyTranslationTest, OnlyPressesOfKeysThatTypeAreKeyDownsWithTheirModifiers)
{
    EXPECT_TRUE(translateKey(IBUS_KEY_a, 0).keyDown);
    EXPECT_FALSE(translateKey(IBUS_KEY_a, IBUS_RELEASE_MASK).keyDown);
    // A modifier pressed alone changes the modifiers; it is not a key of its own.
    for (unsigned modifier : {IBUS_KEY_Shift_L, IBUS_KEY_Shift_R, IBUS_KEY_Control_L, IBUS_KEY_Control_R,
                              IBUS_KEY_Caps_Lock, IBUS_KEY_Alt_L, IBUS_KEY_Super_L, IBUS_KEY_Meta_R,
                              IBUS_KEY_ISO_Level3_Shift, IBUS_KEY_ISO_Next_Group, IBUS_KEY_Mode_switch})
        EXPECT_FALSE(translateKey(modifier, 0).keyDown) << modifier;

    EXPECT_EQ(translateKey(IBUS_KEY_c, IBUS_SUPER_MASK).modifierFlags, KeyEvent::kCommand);
    EXPECT_EQ(translateKey(IBUS_KEY_c, IBUS_MOD4_MASK).modifierFlags, KeyEvent::kCommand);
    EXPECT_EQ(translateKey(IBUS_KEY_c, IBUS_CONTROL_MASK).modifierFlags, KeyEvent::kControl);
    EXPECT_EQ(translateKey(IBUS_KEY_space, IBUS_SHIFT_MASK).modifierFlags, KeyEvent::kShift);
    // Alt and Caps Lock are not examined.
    EXPECT_EQ(translateKey(IBUS_KEY_a, IBUS_MOD1_MASK | IBUS_LOCK_MASK).modifierFlags, 0u);
}

TEST(KeyTranslationTest, KeysGetTheirCodesAndLowercasedCharacters)
{
    const struct {
        unsigned keyval;
        std::uint16_t code;
        std::optional<QString> characters;
    } cases[] = {
        {IBUS_KEY_space, KeyEvent::kSpace, QStringLiteral(" ")},
        {IBUS_KEY_Return, KeyEvent::kReturn, QStringLiteral("\r")},
        {IBUS_KEY_Escape, KeyEvent::kEscape, QStringLiteral("\x1b")},
        {IBUS_KEY_BackSpace, KeyEvent::kDelete, QStringLiteral("\b")},
        {IBUS_KEY_Left, KeyEvent::kLeft, std::nullopt},
        {IBUS_KEY_Right, KeyEvent::kRight, std::nullopt},
        {IBUS_KEY_Down, KeyEvent::kDown, std::nullopt},
        {IBUS_KEY_Up, KeyEvent::kUp, std::nullopt},
        {IBUS_KEY_KP_Enter, KeyEvent::kKeypadEnter, std::nullopt},
        {IBUS_KEY_N, KeyEvent::kOther, QStringLiteral("n")},
        {IBUS_KEY_apostrophe, KeyEvent::kOther, QStringLiteral("'")},
        {IBUS_KEY_2, KeyEvent::kOther, QStringLiteral("2")},
        {IBUS_KEY_F5, KeyEvent::kOther, std::nullopt},
    };
    for (const auto& c : cases) {
        const KeyEvent event = translateKey(c.keyval, 0);
        EXPECT_TRUE(event.keyDown) << c.keyval;
        EXPECT_EQ(event.keyCode, c.code) << c.keyval;
        EXPECT_EQ(event.characters, c.characters) << c.keyval;
    }
}

TEST(PreeditCaretTest, Utf16OffsetsBecomeCharacterCounts)
{
    const QString text = QString::fromUtf8("你\xF0\xA0\x80\x80好"); // 你, U+20000 (two units), 好
    EXPECT_EQ(IBusTextClient::characterOffset(text, 0), 0u);
    EXPECT_EQ(IBusTextClient::characterOffset(text, 3), 2u);
    EXPECT_EQ(IBusTextClient::characterOffset(text, 99), 3u); // beyond the end stays at the end
}

} // namespace
} // namespace tellwire
