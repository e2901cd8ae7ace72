// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "ibus/KeyTranslation.h"

namespace tellwire {

namespace {

std::uint16_t keyCodeFor(unsigned keyval)
{
    switch (keyval) {
    case IBUS_KEY_space: return KeyEvent::kSpace;
    case IBUS_KEY_Return: return KeyEvent::kReturn;
    case IBUS_KEY_Escape: return KeyEvent::kEscape;
    case IBUS_KEY_BackSpace: return KeyEvent::kDelete;
    case IBUS_KEY_Left: return KeyEvent::kLeft;
    case IBUS_KEY_Right: return KeyEvent::kRight;
    case IBUS_KEY_Down: return KeyEvent::kDown;
    case IBUS_KEY_Up: return KeyEvent::kUp;
    case IBUS_KEY_KP_Enter: return KeyEvent::kKeypadEnter;
    default: return KeyEvent::kOther;
    }
}

// Shift, Control, Alt, Super, the locks and the group and level switches. A
// press of one alone changes the modifiers and types nothing: it is no
// key-down, or pressing Shift for a capital or Control for a shortcut would
// close the composition as "any other key" does.
bool isModifierKey(unsigned keyval)
{
    return (keyval >= IBUS_KEY_Shift_L && keyval <= IBUS_KEY_Hyper_R)
        || (keyval >= IBUS_KEY_ISO_Lock && keyval <= IBUS_KEY_ISO_Level5_Lock)
        || keyval == IBUS_KEY_Mode_switch || keyval == IBUS_KEY_Num_Lock;
}

} // namespace

KeyEvent translateKey(unsigned keyval, unsigned state)
{
    KeyEvent event;
    event.keyDown = (state & IBUS_RELEASE_MASK) == 0 && !isModifierKey(keyval);
    // X11 reports Super as Mod4; Wayland compositors set the virtual Super bit.
    if (state & (IBUS_SUPER_MASK | IBUS_MOD4_MASK))
        event.modifierFlags |= KeyEvent::kCommand;
    if (state & IBUS_CONTROL_MASK)
        event.modifierFlags |= KeyEvent::kControl;
    // Mod1 is Alt; AltGr (Mod5) types characters and is left alone.
    if (state & (IBUS_MOD1_MASK | IBUS_META_MASK | IBUS_HYPER_MASK))
        event.modifierFlags |= KeyEvent::kAlt;
    if (state & IBUS_SHIFT_MASK)
        event.modifierFlags |= KeyEvent::kShift;
    event.keyCode = keyCodeFor(keyval);
    const gunichar character = ibus_keyval_to_unicode(keyval);
    if (character != 0) {
        const char32_t ucs4 = character;
        event.characters = QString::fromUcs4(&ucs4, 1).toLower();
    }
    return event;
}

} // namespace tellwire
