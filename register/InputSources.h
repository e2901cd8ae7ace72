#pragma once

#include <QString>

namespace tellwire {

// The three things the desktop's input-method framework does for the
// registration tool. Result codes are 0 on success, otherwise the platform's
// code (an errno value on Linux).
class InputSources {
public:
    // Registration refused because it writes a system folder and we are not root.
    static constexpr int kRootRequired = 77;

    virtual ~InputSources() = default;

    // Makes the framework know the component file at `path` (already checked to exist).
    virtual int registerComponent(const QString& path) = 0;
    // Whether the framework lists the engine `engine` right now.
    virtual bool lists(const QString& engine) = 0;
    virtual int enable(const QString& engine) = 0;
};

} // namespace tellwire
