#include "PhoneNumber.h"

#include <regex>

namespace tellwire {

std::optional<std::string> accountNumber(std::string_view typed)
{
    // std::regex_match already requires the whole text to match; the anchors
    // keep the pattern identical to the desktop's.
    static const std::regex pattern(R"(^(?:\+?86)?(1[3-9][0-9]{9})$)");
    std::match_results<std::string_view::const_iterator> match;
    if (!std::regex_match(typed.begin(), typed.end(), match, pattern))
        return std::nullopt;
    return match[1].str();
}

} // namespace tellwire
