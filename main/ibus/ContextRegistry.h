#pragma once

#include "ibus/InputContextSession.h"
#include "input/RecentlyFocused.h"

namespace tellwire {

// The sessions of the client input contexts, by context path. IBus never says
// that a context is gone.
using ContextRegistry = RecentlyFocused<InputContextSession>;

} // namespace tellwire
