#pragma once

#include "input/KeyEvent.h"

namespace tellwire {

// Turns an IBus key event (keysym and modifier state) into the host-neutral form.
KeyEvent translateKey(unsigned keyval, unsigned state);

} // namespace tellwire
