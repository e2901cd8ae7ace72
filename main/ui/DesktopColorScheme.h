#pragma once

#include <QDBusVariant>
#include <QObject>

namespace tellwire {

// The light or dark style the user chose for the desktop, as the settings
// portal tells it ("color-scheme" of "org.freedesktop.appearance"), followed as
// it changes. Qt's palette does not follow it on GNOME.
class DesktopColorScheme : public QObject {
    Q_OBJECT
public:
    enum class Preference { Unknown, Dark, Light };

    // The one per process, asking the portal on first use.
    static DesktopColorScheme& shared();

    // Unknown until a portal answers, and where the user has no preference.
    Preference preference() const { return preference_; }

signals:
    void changed();

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    DesktopColorScheme();
    void read();
    void take(const QVariant& value);

    Preference preference_ = Preference::Unknown;
};

} // namespace tellwire
