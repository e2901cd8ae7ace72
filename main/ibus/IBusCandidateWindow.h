#pragma once

#include "input/CandidateWindow.h"

#include <QStringList>

#include <functional>

namespace tellwire {

class IBusTextClient;

// A controller's candidates as an IBus lookup table: one horizontal row of up
// to nine, shown by the panel below the cursor.
class IBusCandidateWindow final : public CandidateWindow {
public:
    static constexpr unsigned kPageSize = 9;

    // output: where the table goes; candidates: asked at every update.
    IBusCandidateWindow(IBusTextClient& output, std::function<QStringList()> candidates);

    void update() override;
    void show() override;
    void hide() override;

private:
    void send();

    IBusTextClient& output_;
    std::function<QStringList()> candidates_;
    QStringList shown_;
    bool visible_ = false;
};

} // namespace tellwire
