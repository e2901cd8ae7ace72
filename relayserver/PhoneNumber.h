#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tellwire {

// The account a typed mainland-China mobile number belongs to: its eleven
// digits, so "+8613800138000", "8613800138000" and "13800138000" are one
// account. Accepts exactly what the desktop accepts; nothing when it does not
// match.
std::optional<std::string> accountNumber(std::string_view typed);

} // namespace tellwire
