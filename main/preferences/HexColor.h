#pragma once

#include <QStringView>

namespace tellwire {

// An sRGB colour with full opacity, one byte per channel.
struct HexColor {
    int red = 0;
    int green = 0;
    int blue = 0;

    // Reads a text such as "#0c9488". Hash signs around the digits are ignored,
    // short forms are not expanded, only the low 24 bits count, and anything
    // unreadable gives the default teal.
    static HexColor parse(QStringView hex);

    friend bool operator==(const HexColor&, const HexColor&) = default;
};

} // namespace tellwire
