#include "preferences/HexColor.h"

#include <cstdint>
#include <limits>
#include <optional>

namespace tellwire {

namespace {

constexpr std::uint64_t kDefaultTeal = 0x0C9488;

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Base-16 unsigned 64-bit number with an optional leading plus sign.
std::optional<std::uint64_t> parseUnsigned(QStringView text)
{
    if (text.startsWith(u'+'))
        text = text.mid(1);
    if (text.isEmpty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const QChar c : text) {
        const int digit = hexDigit(c);
        if (digit < 0 || value > (std::numeric_limits<std::uint64_t>::max() >> 4))
            return std::nullopt;
        value = (value << 4) | std::uint64_t(digit);
    }
    return value;
}

} // namespace

HexColor HexColor::parse(QStringView hex)
{
    while (hex.startsWith(u'#'))
        hex = hex.mid(1);
    while (hex.endsWith(u'#'))
        hex.chop(1);
    const std::uint64_t value = parseUnsigned(hex).value_or(kDefaultTeal);
    return {int((value >> 16) & 0xFF), int((value >> 8) & 0xFF), int(value & 0xFF)};
}

} // namespace tellwire
