#include "preferences/Appearance.h"

#include "model/Defaults.h"
#include "preferences/TextRules.h"

namespace tellwire {

const QString Appearance::kAccentKey = QStringLiteral("accent");
const QString Appearance::kAppearanceKey = QStringLiteral("appearance");
const QString Appearance::kDefaultAccent = QStringLiteral("#0c9488");
const QString Appearance::kDefaultAppearance = QStringLiteral("system");

const QStringList& Appearance::swatches()
{
    static const QStringList list = {
        QStringLiteral("#0c9488"),
        QStringLiteral("#2563eb"),
        QStringLiteral("#7c3aed"),
        QStringLiteral("#dc4b6c"),
    };
    return list;
}

QString Appearance::cutAccent(const QString& text)
{
    return TextRules::leftPerceived(text, kAccentLength);
}

Appearance::Scheme Appearance::schemeFor(const QString& appearance)
{
    if (appearance == QLatin1String("system"))
        return Scheme::System;
    if (appearance == QLatin1String("dark"))
        return Scheme::Dark;
    return Scheme::Light;
}

Appearance::Appearance(Defaults& defaults, QObject* parent)
    : QObject(parent)
    , defaults_(defaults)
{
    connect(&defaults_, &Defaults::changed, this, &Appearance::keyChanged);
}

QString Appearance::stored(const QString& key, const QString& fallback) const
{
    return defaults_.contains(key) ? defaults_.string(key) : fallback;
}

QString Appearance::accent() const
{
    return stored(kAccentKey, kDefaultAccent);
}

void Appearance::setAccent(const QString& accent)
{
    defaults_.setString(kAccentKey, accent);
}

QString Appearance::appearance() const
{
    return stored(kAppearanceKey, kDefaultAppearance);
}

void Appearance::setAppearance(const QString& appearance)
{
    defaults_.setString(kAppearanceKey, appearance);
}

void Appearance::restoreDefaults()
{
    setAccent(kDefaultAccent);
    setAppearance(kDefaultAppearance);
}

void Appearance::keyChanged(const QString& key)
{
    if (key == kAccentKey)
        emit accentChanged();
    else if (key == kAppearanceKey)
        emit appearanceChanged();
}

} // namespace tellwire
