#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <chrono>
#include <functional>

namespace tellwire::testing {

// One of the real-client test applications (tests/apps: GTK, Qt, a browser
// page), which print their state as JSON lines: the focused field, each
// field's text, the preedit, the keys that reached them, whether the window
// is active; first the fields' places.
class FieldsApp {
public:
    void start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment);
    ~FieldsApp();

    // Takes in what the application printed since; a browser prints its lines as console messages.
    void read();
    // Waits until condition holds on what the application says; a failure names `what` and the last state.
    bool until(const char* what, const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Moves the focus to that field, as the application itself may.
    void focus(const char* field) { process_.write(QByteArray("focus ") + field + '\n'); }

    QString field(const char* name) const { return state[QLatin1String(name)].toString(); }
    bool hasKey(const char* name) const { return state[QLatin1String("keys")].toArray().contains(QLatin1String(name)); }

    QJsonObject places;
    QJsonObject state;
    QString output; // the application's other words, the latest last

private:
    QProcess process_;
};

} // namespace tellwire::testing
