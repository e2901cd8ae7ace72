#pragma once

#include "input/CandidateWindow.h"

#include <QStringList>

#include <functional>

namespace tellwire {

class FcitxTextClient;

// A controller's candidates as fcitx5's own candidate list, drawn by its panel.
class FcitxCandidateWindow final : public CandidateWindow {
public:
    // output: where the list goes; candidates: asked at every update.
    FcitxCandidateWindow(FcitxTextClient& output, std::function<QStringList()> candidates);

    void update() override;
    void show() override;
    void hide() override;

private:
    FcitxTextClient& output_;
    std::function<QStringList()> candidates_;
    bool visible_ = false;
};

} // namespace tellwire
