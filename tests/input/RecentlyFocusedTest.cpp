#include "input/RecentlyFocused.h"

#include "input/VoiceInputController.h"
#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "relayclient/Router.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

// The IBus and fcitx5 hosts keep their contexts alike.
TEST(RecentlyFocusedTest, LeastRecentlyFocusedIsDroppedBeyondTheLimitAndLeavesNoDanglingFocus)
{
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    DesktopState state{secrets, defaults, nullptr};
    Router router{state};
    using Contexts = RecentlyFocused<VoiceInputController>;
    Contexts contexts{[&](const QString&) { return std::make_unique<VoiceInputController>(state, router); }};
    const auto path = [](int n) { return QString::number(n); };

    contexts.focus(path(1)).activateServer();
    for (int n = 2; n <= int(Contexts::kLimit); ++n)
        contexts.focus(path(n));
    contexts.focus(path(2)); // now the most recent; 1 is the oldest, then 3
    ASSERT_NE(router.active(), nullptr);
    contexts.focus(path(1000));
    EXPECT_EQ(contexts.size(), Contexts::kLimit);
    EXPECT_EQ(contexts.find(path(1)), nullptr);
    EXPECT_EQ(router.active(), nullptr);
    contexts.focus(path(1001));
    EXPECT_NE(contexts.find(path(2)), nullptr);
    EXPECT_EQ(contexts.find(path(3)), nullptr);
    EXPECT_NE(contexts.find(path(4)), nullptr);
}

} // namespace
} // namespace tellwire
