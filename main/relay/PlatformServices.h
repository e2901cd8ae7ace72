#pragma once

#include "relay/DesktopState.h"

namespace tellwire {

// The real stores of the desktop: the Secret Service vault and the settings
// file. Made once; they live as long as the process.
DesktopState::Services platformServices(Clipboard* clipboard = nullptr);

} // namespace tellwire
