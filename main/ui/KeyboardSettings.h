#pragma once

namespace tellwire {

// The desktop's own page for adding input methods.
namespace KeyboardSettings {

// Starts GNOME Settings on its keyboard page where it is installed, otherwise
// ibus-setup; does nothing when neither exists. True when a program started.
bool open();

} // namespace KeyboardSettings

} // namespace tellwire
