#include "ui/Theme.h"

namespace tellwire {

Theme Theme::lightScheme()
{
    Theme t;
    t.dark = false;
    t.window = QColor(0xf2, 0xf2, 0xf5);
    t.surface = QColor(0xff, 0xff, 0xff);
    t.text = QColor(0x1d, 0x1d, 0x1f);
    t.secondaryText = QColor(0x6e, 0x6e, 0x76);
    t.separator = QColor(0xe3, 0xe3, 0xe8);
    t.field = QColor(0xff, 0xff, 0xff);
    t.control = QColor(0xff, 0xff, 0xff);
    t.controlBorder = QColor(0xc8, 0xc8, 0xcf);
    t.focus = QColor(0x2f, 0x6f, 0xdb);
    t.error = QColor(0xd7, 0x00, 0x15);
    return t;
}

Theme Theme::darkScheme()
{
    Theme t;
    t.dark = true;
    t.window = QColor(0x1e, 0x1e, 0x21);
    t.surface = QColor(0x2a, 0x2a, 0x2e);
    t.text = QColor(0xf2, 0xf2, 0xf5);
    t.secondaryText = QColor(0x9d, 0x9d, 0xa6);
    t.separator = QColor(0x3a, 0x3a, 0x40);
    t.field = QColor(0x1e, 0x1e, 0x21);
    t.control = QColor(0x3a, 0x3a, 0x40);
    t.controlBorder = QColor(0x4d, 0x4d, 0x55);
    t.focus = QColor(0x4c, 0x8d, 0xf6);
    t.error = QColor(0xff, 0x45, 0x3a);
    return t;
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
