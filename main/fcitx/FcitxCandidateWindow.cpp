#include "fcitx/FcitxCandidateWindow.h"

#include "fcitx/FcitxTextClient.h"

#include <utility>

namespace tellwire {

FcitxCandidateWindow::FcitxCandidateWindow(FcitxTextClient& output, std::function<QStringList()> candidates)
    : output_(output)
    , candidates_(std::move(candidates))
{
}

void FcitxCandidateWindow::update()
{
    if (visible_)
        output_.showCandidates(candidates_());
}

void FcitxCandidateWindow::show()
{
    visible_ = true;
    output_.showCandidates(candidates_());
}

void FcitxCandidateWindow::hide()
{
    if (std::exchange(visible_, false))
        output_.hideCandidates();
}

} // namespace tellwire
