#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace tellwire {

class InputSources;

// Registers the component given on the command line, waits until the
// framework lists the engine, and enables it. Every run ends in exactly one
// line: failures on standard error, success on standard output.
class Registration {
public:
    struct Outcome {
        enum Stream { StandardOutput, StandardError };
        int exitCode = 0;
        QString line;
        Stream stream = StandardOutput;
    };

    using Pause = std::function<void(std::chrono::milliseconds)>;

    static inline const QString kEngine = QStringLiteral("cc.orrisfeld.tellwire.inputmethod");
    static constexpr int kSearches = 20;
    static constexpr std::chrono::milliseconds kSearchPause{100};

    Registration(InputSources& sources, Pause pause);

    // `arguments` are the command-line arguments without the program name.
    Outcome run(const QStringList& arguments);

private:
    bool searchEngine();

    InputSources& sources_;
    Pause pause_;
};

} // namespace tellwire
