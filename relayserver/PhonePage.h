#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tellwire {

// One file of the phone page, as built into the program.
struct PhoneAsset {
    std::string_view content;
    std::string type;
};

// The file a GET of `path` asks for ("/" is the page itself), if there is one.
std::optional<PhoneAsset> phoneAsset(std::string_view path);

} // namespace tellwire
