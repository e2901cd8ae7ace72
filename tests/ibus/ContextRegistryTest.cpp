#include "ibus/ContextRegistry.h"

#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "relayclient/Router.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

TEST(ContextRegistryTest, LeastRecentlyFocusedIsDroppedBeyondTheLimitAndLeavesNoDanglingFocus)
{
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    DesktopState state{secrets, defaults, nullptr};
    Router router{state};
    ContextRegistry contexts{[&](const QString& path) {
        return std::make_unique<InputContextSession>(path, state, router, nullptr);
    }};
    const auto path = [](int n) { return QStringLiteral("/org/freedesktop/IBus/InputContext_%1").arg(n); };

    contexts.focus(path(1)).controller().activateServer();
    for (int n = 2; n <= int(ContextRegistry::kLimit); ++n)
        contexts.focus(path(n));
    contexts.focus(path(2)); // now the most recent; 1 is the oldest, then 3
    ASSERT_NE(router.active(), nullptr);
    contexts.focus(path(1000));
    EXPECT_EQ(contexts.size(), ContextRegistry::kLimit);
    EXPECT_EQ(contexts.find(path(1)), nullptr);
    EXPECT_EQ(router.active(), nullptr);
    contexts.focus(path(1001));
    EXPECT_NE(contexts.find(path(2)), nullptr);
    EXPECT_EQ(contexts.find(path(3)), nullptr);
    EXPECT_NE(contexts.find(path(4)), nullptr);
}

} // namespace
} // namespace tellwire
