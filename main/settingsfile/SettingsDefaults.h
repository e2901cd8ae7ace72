#pragma once

#include "model/Defaults.h"

#include <QSettings>

namespace tellwire {

// The user's preferences in an INI file in the XDG config folder
// ($XDG_CONFIG_HOME/tellwire/tellwire.conf). Make one per process and share it,
// so that every view hears of each write.
class SettingsDefaults final : public Defaults {
    Q_OBJECT
public:
    explicit SettingsDefaults(QObject* parent = nullptr);
    // A store in the given file, for tools and tests.
    explicit SettingsDefaults(const QString& fileName, QObject* parent = nullptr);

    QString string(const QString& key) const override;
    void setString(const QString& key, const QString& value) override;
    bool contains(const QString& key) const override;

    QString fileName() const { return settings_.fileName(); }

private:
    QSettings settings_;
};

} // namespace tellwire
