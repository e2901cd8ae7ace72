#include "ui/Theme.h"

namespace tellwire {

// The colours in the order of Theme's fields.
Theme Theme::lightScheme()
{
    return {false,    0xf2f2f5, 0xffffff, 0x1d1d1f, 0x6e6e76, 0xe3e3e8,
            0xffffff, 0xffffff, 0xc8c8cf, 0x2f6fdb, 0xd70015};
}

Theme Theme::darkScheme()
{
    return {true,     0x1e1e21, 0x2a2a2e, 0xf2f2f5, 0x9d9da6, 0x3a3a40,
            0x1e1e21, 0x3a3a40, 0x4d4d55, 0x4c8df6, 0xff453a};
}

Theme Theme::forScheme(Appearance::Scheme scheme, bool desktopIsDark)
{
    switch (scheme) {
    case Appearance::Scheme::Dark:
        return darkScheme();
    case Appearance::Scheme::Light:
        return lightScheme();
    case Appearance::Scheme::System:
        break;
    }
    return desktopIsDark ? darkScheme() : lightScheme();
}

QPalette Theme::palette(const QColor& highlight) const
{
    QPalette p;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const QColor fg = disabled ? secondaryText : text;
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, fg);
        p.setColor(group, QPalette::Base, field);
        p.setColor(group, QPalette::AlternateBase, surface);
        p.setColor(group, QPalette::Text, fg);
        p.setColor(group, QPalette::PlaceholderText, secondaryText);
        p.setColor(group, QPalette::Button, control);
        p.setColor(group, QPalette::ButtonText, fg);
        p.setColor(group, QPalette::BrightText, readableOn(highlight));
        p.setColor(group, QPalette::Highlight, highlight);
        p.setColor(group, QPalette::HighlightedText, readableOn(highlight));
        p.setColor(group, QPalette::Link, highlight);
        p.setColor(group, QPalette::ToolTipBase, surface);
        p.setColor(group, QPalette::ToolTipText, text);
        p.setColor(group, QPalette::Light, dark ? control.lighter(130) : QColor(Qt::white));
        p.setColor(group, QPalette::Midlight, dark ? control.lighter(115) : separator);
        p.setColor(group, QPalette::Mid, controlBorder);
        p.setColor(group, QPalette::Dark, controlBorder.darker(130));
        p.setColor(group, QPalette::Shadow, dark ? QColor(Qt::black) : controlBorder.darker(160));
    }
    return p;
}

QColor toQColor(const HexColor& color)
{
    return QColor::fromRgb(color.red, color.green, color.blue);
}

QColor readableOn(const QColor& background)
{
    // Relative luminance of sRGB, good enough to pick a text colour.
    const double luminance = 0.2126 * background.redF() + 0.7152 * background.greenF()
        + 0.0722 * background.blueF();
    return luminance > 0.6 ? QColor(0x1d, 0x1d, 0x1f) : QColor(Qt::white);
}

} // namespace tellwire
