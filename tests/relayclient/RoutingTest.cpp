#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "relayclient/Router.h"
#include "relayclient/VoiceTarget.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

// An input session noting what routing hands it: "u1:text" interim, "u1=text" final, "-" interim taken away.
struct Field final : VoiceTarget {
    const QUuid id = QUuid::createUuid();
    QUuid epoch = QUuid::createUuid();
    QStringList heard;

    const QUuid& identity() const override { return id; }
    const QUuid& focusEpoch() const override { return epoch; }
    void voice(const QString& text, bool final, const QString& utterance) override { heard << utterance + (final ? "=" : ":") + text; }
    void abandonVoice() override { heard << QStringLiteral("-"); }
};

class RoutingTest : public ::testing::Test {
protected:
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    testing::RecordingShell shell;
    DesktopState state{secrets, defaults, nullptr};
    Router router{state};
    Field first, second;
    double now = 1'700'000'000'000.0;

    void SetUp() override
    {
        state.setShell(&shell);
        router.setClock([this] { return now; });
    }
    // An event age milliseconds old by the local clock.
    Transcript said(const QString& utterance, const QString& text, double age = 0, bool final = false)
    {
        return {utterance, text, final ? std::optional(true) : std::nullopt, 0, now - age, {}, {}};
    }
    Transcript done(const QString& utterance, const QString& text, double age = 0) { return said(utterance, text, age, true); }
};

TEST_F(RoutingTest, TheFocusedFieldGetsInterimsAndTheFinalOnceAndSessionEndTakesInterimTextAway)
{
    Transcript end;
    end.type = QStringLiteral("session_end");
    router.consume(end); // nothing focused: nothing to do
    router.focus(&first);
    Transcript textless = said("u2", ""), spoken = done("u1", "你好。");
    textless.text.reset();
    spoken.type = QStringLiteral("session_end"); // with text, an ordinary transcript whatever its type
    router.consume(QList{said("u1", "你"), said("u1", "你好"), end, textless, spoken, spoken, done("u1", "又好")});
    EXPECT_EQ(state.historyText(), "你好。");
    state.clearHistory(); // does not let a repeat back in
    router.consume(spoken);
    EXPECT_EQ(first.heard, (QStringList{"u1:你", "u1:你好", "-", "u1=你好。"}));
    EXPECT_TRUE(state.history().isEmpty());
    EXPECT_EQ(shell.idleShows, 0);
}

TEST_F(RoutingTest, AnUtteranceIsTypedOnlyIntoTheFieldAndStretchOfFocusItBeganIn)
{
    router.consume(said("u0", "零")); // no field focused: bound to none
    router.focus(&first);
    router.consume(QList{said("u0", "零一"), said("u1", "一")});
    router.focus(&second);
    router.consume(QList{done("u0", "零一二"), said("u1", "一二"), done("u1", "一二三"), done("u2", "二"), said("u3", "三")});
    second.epoch = QUuid::createUuid(); // focus left the field and came back
    router.consume(done("u3", "三四"));
    EXPECT_EQ(first.heard, QStringList{"u1:一"});
    EXPECT_EQ(second.heard, (QStringList{"u2=二", "u3:三"}));
    EXPECT_EQ(state.historyText(), "零一二\n一二三\n二\n三四");
    EXPECT_EQ(shell.idleShows, 1);
}

TEST_F(RoutingTest, PausedOrThreeSecondsOldTextIsKeptButNotTypedAndThePanelShows)
{
    router.focus(&first);
    router.consume(said("u0", "零"));
    state.setPaused(true); // takes the interim text away
    router.consume(QList{said("u1", "一"), done("u1", "一二"), done("u1", "一二"), done("u2", "三")});
    EXPECT_EQ(shell.idleShows, 3); // the repeated final has no effect at all
    state.setPaused(false);
    // The phone's clock may be ahead of this one.
    router.consume(QList{said("u3", "旧", 3000), said("u4", "新", 2999), said("u5", "前", -60000), done("u3", "旧的", 4000)});
    EXPECT_EQ(first.heard, (QStringList{"u0:零", "-", "u4:新", "u5:前"}));
    EXPECT_EQ(state.historyText(), "一二\n三\n旧的");
    EXPECT_EQ(shell.idleShows, 5);
}

TEST_F(RoutingTest, MoreThanTwoHundredOpenUtterancesAreForgotten)
{
    router.focus(&first);
    for (int i = 0; i < 200; ++i)
        router.consume(said(QStringLiteral("open-%1").arg(i), "x"));
    router.focus(&second);
    router.consume(QList{said("open-0", "xy"), said("trigger", "t"), said("open-0", "xyz")}); // 200 kept, 201 forgotten
    EXPECT_EQ(second.heard, (QStringList{"trigger:t", "open-0:xyz"}));
}

} // namespace
} // namespace tellwire
