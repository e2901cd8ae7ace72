// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "ibus/KeyTranslation.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

TEST(KeyTranslationTest, PressesGetCodesLowercasedCharactersAndModifiers)
{
    const struct { unsigned keyval, state; bool keyDown; std::uint16_t code; std::optional<QString> characters;
                   std::uint64_t flags = 0; } cases[] = {
        {IBUS_KEY_space, 0, true, KeyEvent::kSpace, QStringLiteral(" ")},
        {IBUS_KEY_Return, 0, true, KeyEvent::kReturn, QStringLiteral("\r")},
        {IBUS_KEY_Escape, 0, true, KeyEvent::kEscape, QStringLiteral("\x1b")},
        {IBUS_KEY_BackSpace, 0, true, KeyEvent::kDelete, QStringLiteral("\b")},
        {IBUS_KEY_Left, 0, true, KeyEvent::kLeft, std::nullopt},
        {IBUS_KEY_Right, 0, true, KeyEvent::kRight, std::nullopt},
        {IBUS_KEY_Down, 0, true, KeyEvent::kDown, std::nullopt},
        {IBUS_KEY_Up, 0, true, KeyEvent::kUp, std::nullopt},
        {IBUS_KEY_KP_Enter, 0, true, KeyEvent::kKeypadEnter, std::nullopt},
        {IBUS_KEY_N, 0, true, KeyEvent::kOther, QStringLiteral("n")},
        {IBUS_KEY_2, 0, true, KeyEvent::kOther, QStringLiteral("2")},
        {IBUS_KEY_F5, 0, true, KeyEvent::kOther, std::nullopt},
        {IBUS_KEY_a, IBUS_RELEASE_MASK, false, KeyEvent::kOther, QStringLiteral("a")},
        {IBUS_KEY_c, IBUS_SUPER_MASK, true, KeyEvent::kOther, QStringLiteral("c"), KeyEvent::kCommand},
        {IBUS_KEY_c, IBUS_MOD4_MASK, true, KeyEvent::kOther, QStringLiteral("c"), KeyEvent::kCommand},
        {IBUS_KEY_c, IBUS_CONTROL_MASK, true, KeyEvent::kOther, QStringLiteral("c"), KeyEvent::kControl},
        {IBUS_KEY_space, IBUS_SHIFT_MASK, true, KeyEvent::kSpace, QStringLiteral(" "), KeyEvent::kShift},
        // Alt, Meta and Hyper make shortcuts; AltGr and Caps Lock are not examined.
        {IBUS_KEY_d, IBUS_MOD1_MASK | IBUS_LOCK_MASK, true, KeyEvent::kOther, QStringLiteral("d"), KeyEvent::kAlt},
        {IBUS_KEY_d, IBUS_META_MASK, true, KeyEvent::kOther, QStringLiteral("d"), KeyEvent::kAlt},
        {IBUS_KEY_d, IBUS_HYPER_MASK, true, KeyEvent::kOther, QStringLiteral("d"), KeyEvent::kAlt},
        {IBUS_KEY_a, IBUS_MOD5_MASK, true, KeyEvent::kOther, QStringLiteral("a")},
    };
    for (const auto& c : cases) {
        const KeyEvent event = translateKey(c.keyval, c.state);
        EXPECT_EQ(event.keyDown, c.keyDown) << c.keyval;
        EXPECT_EQ(event.keyCode, c.code) << c.keyval;
        EXPECT_EQ(event.characters, c.characters) << c.keyval;
        EXPECT_EQ(event.modifierFlags, c.flags) << c.keyval;
    }
    // A modifier pressed alone changes the modifiers; it is not a key of its own.
    for (unsigned modifier : {IBUS_KEY_Shift_L, IBUS_KEY_Shift_R, IBUS_KEY_Control_L, IBUS_KEY_Control_R,
                              IBUS_KEY_Caps_Lock, IBUS_KEY_Alt_L, IBUS_KEY_Super_L, IBUS_KEY_Meta_R,
                              IBUS_KEY_ISO_Level3_Shift, IBUS_KEY_ISO_Next_Group, IBUS_KEY_Mode_switch})
        EXPECT_FALSE(translateKey(modifier, 0).keyDown) << modifier;
}

} // namespace
} // namespace tellwire
