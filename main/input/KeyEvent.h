#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace tellwire {

// A key event in the host-neutral form the key handling works on. The IBus
// adapter translates keysyms and modifier masks into it.
struct KeyEvent {
    // Modifier flags.
    static constexpr std::uint64_t kShift = 0x20000;
    static constexpr std::uint64_t kControl = 0x40000;
    static constexpr std::uint64_t kAlt = 0x80000; // also Meta and Hyper: shortcuts, never characters
    static constexpr std::uint64_t kCommand = 0x100000; // Super on Linux

    // Key codes of the keys the keyboard treats specially; any other key has a
    // code outside these.
    static constexpr std::uint16_t kReturn = 36;
    static constexpr std::uint16_t kSpace = 49;
    static constexpr std::uint16_t kDelete = 51; // BackSpace
    static constexpr std::uint16_t kEscape = 53;
    static constexpr std::uint16_t kKeypadEnter = 76;
    static constexpr std::uint16_t kLeft = 123;
    static constexpr std::uint16_t kRight = 124;
    static constexpr std::uint16_t kDown = 125;
    static constexpr std::uint16_t kUp = 126;
    static constexpr std::uint16_t kOther = 0xffff;

    bool keyDown = true;
    std::uint64_t modifierFlags = 0;
    std::uint16_t keyCode = kOther;
    // The key's character ignoring modifiers, lowercased; absent for keys without one.
    std::optional<QString> characters;
};

} // namespace tellwire
