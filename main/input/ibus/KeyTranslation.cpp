// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "input/ibus/KeyTranslation.h"

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

} // namespace

KeyEvent translateKey(unsigned keyval, unsigned state)
{
    KeyEvent event;
    event.keyDown = (state & IBUS_RELEASE_MASK) == 0;
    // X11 reports Super as Mod4; Wayland compositors set the virtual Super bit.
    if (state & (IBUS_SUPER_MASK | IBUS_MOD4_MASK))
        event.modifierFlags |= KeyEvent::kCommand;
    if (state & IBUS_CONTROL_MASK)
        event.modifierFlags |= KeyEvent::kControl;
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
