#pragma once

#include "preferences/HexColor.h"

#include <QObject>
#include <QString>
#include <QStringList>

namespace tellwire {

class Defaults;

// The two appearance preferences, "accent" and "appearance", read and written
// through the user's defaults; every window that shows them follows each write.
class Appearance : public QObject {
    Q_OBJECT
public:
    enum class Scheme { System, Light, Dark };

    static const QString kAccentKey;
    static const QString kAppearanceKey;
    static const QString kDefaultAccent;
    static const QString kDefaultAppearance;
    // Longest accent text the settings field keeps, in user-perceived characters.
    static constexpr qsizetype kAccentLength = 7;

    // The theme colours offered as swatches, in display order.
    static const QStringList& swatches();
    // The first kAccentLength user-perceived characters of text.
    static QString cutAccent(const QString& text);
    // "system" follows the desktop, "dark" is dark, anything else light.
    static Scheme schemeFor(const QString& appearance);

    explicit Appearance(Defaults& defaults, QObject* parent = nullptr);

    QString accent() const;
    void setAccent(const QString& accent);
    HexColor accentColor() const { return HexColor::parse(accent()); }
    bool isSelected(const QString& swatch) const { return accent() == swatch; }

    QString appearance() const;
    void setAppearance(const QString& appearance);
    Scheme scheme() const { return schemeFor(appearance()); }

    // Teal accent and the desktop's scheme, in that order.
    void restoreDefaults();

signals:
    void accentChanged();
    void appearanceChanged();

private:
    // An empty text stored is kept; only a missing key gives the fallback.
    QString stored(const QString& key, const QString& fallback) const;
    void keyChanged(const QString& key);

    Defaults& defaults_;
};

} // namespace tellwire
