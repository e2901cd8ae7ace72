#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace tellwire {

// Makes sure Tellwire runs and asks it to open its settings window.
class Launcher : public QObject {
    Q_OBJECT
public:
    static inline const QString kInputMethodName = QStringLiteral("cc.orrisfeld.tellwire.inputmethod");
    static inline const QString kShowSettings = QStringLiteral("cc.orrisfeld.tellwire.show-settings");
    static constexpr int kNotifyDelayMs = 800;

    using Alert = std::function<void(const QString& title, const QString& detail)>;

    Launcher(QString executable, Alert alert, QObject* parent = nullptr);

    // Starts Tellwire when needed and schedules the show-settings request,
    // after which the application quits. Returns an exit code when it fails
    // at once; otherwise the caller runs the event loop.
    std::optional<int> launch();

signals:
    void posted();

private:
    bool inputMethodRuns() const;
    void postShowSettings();

    QString executable_;
    Alert alert_;
};

} // namespace tellwire
