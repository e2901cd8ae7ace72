#pragma once

#include "InputSources.h"

#include <QStringList>

namespace tellwire {

// InputSources on IBus. ibus-daemon reads component files only when it starts,
// and only from its component folders, so registering links the file into the
// first folder and restarts the daemon. Enabling adds the engine to the
// gsettings lists that the desktop's input panel follows.
class IBusInputSources final : public InputSources {
public:
    // `systemFolder` is the daemon's folder when IBUS_COMPONENT_PATH is not set.
    explicit IBusInputSources(QString systemFolder = QStringLiteral("/usr/share/ibus/component"));

    int registerComponent(const QString& path) override;
    bool lists(const QString& engine) override;
    int enable(const QString& engine) override;

    // The folders the daemon reads components from, in its order.
    QStringList componentFolders() const;

private:
    int placeInFolder(const QString& path, bool& changed) const;

    QString systemFolder_;
};

} // namespace tellwire
