#pragma once

#include <functional>
#include <memory>

namespace tellwire {

// A single-row candidate list shown below the insertion point.
class CandidateWindow {
public:
    virtual ~CandidateWindow() = default;

    // Re-reads the controller's candidates and redraws.
    virtual void update() = 0;
    virtual void show() = 0;
    virtual void hide() = 0;
};

// Makes a controller's candidate window; may yield nothing, in which case
// the controller tries again at its next activation.
using CandidateWindowFactory = std::function<std::unique_ptr<CandidateWindow>()>;

} // namespace tellwire
