#include "settingsfile/SettingsDefaults.h"

#include <QMetaType>

namespace tellwire {

SettingsDefaults::SettingsDefaults(QObject* parent)
    : Defaults(parent)
    , settings_(QSettings::UserScope, QStringLiteral("tellwire"), QStringLiteral("tellwire"))
{
}

SettingsDefaults::SettingsDefaults(const QString& fileName, QObject* parent)
    : Defaults(parent)
    , settings_(fileName, QSettings::IniFormat)
{
}

QString SettingsDefaults::string(const QString& key) const
{
    // A value that is not text (an edited file with a list, say) reads as unset.
    const QVariant value = settings_.value(key);
    if (value.typeId() != QMetaType::QString)
        return {};
    return value.toString();
}

void SettingsDefaults::setString(const QString& key, const QString& value)
{
    settings_.setValue(key, value);
    settings_.sync();
    emit changed(key);
}

bool SettingsDefaults::contains(const QString& key) const
{
    return settings_.value(key).typeId() == QMetaType::QString;
}

} // namespace tellwire
