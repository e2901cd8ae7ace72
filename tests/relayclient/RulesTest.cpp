#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "relayclient/API.h"
#include "relayclient/EventBatch.h"
#include "relayclient/Router.h"
#include "relayclient/VoiceTarget.h"
#include "support/Fakes.h"
#include "support/Messages.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

using namespace testing;

TEST(APIRulesTest, HttpsAnywherePlainHttpOnlyToThisMachine)
{
    const auto address = [](const char* base) {
        APIError error;
        const auto url = API(QString::fromLatin1(base), {}).url(QStringLiteral("/v1/events?after=-1"), &error);
        return url ? url->toString() : QStringLiteral("refused: ") + error.message;
    };
    for (const char* origin : {"https://example.com:8443", "https://example.com/api", "http://localhost:8080"})
        EXPECT_EQ(address(origin), QString::fromLatin1(origin) + "/v1/events?after=-1");
    EXPECT_EQ(address("https://relay.example.com///"), "https://relay.example.com/v1/events?after=-1");
    for (const char* base : {"http://192.168.1.20:8080", "http://127.0.0.1.evil.com", "ftp://localhost",
                             "http://localhost@evil.com", "relay.example.com", "localhost:8080", "https://", "",
                             "https://a b.com"})
        EXPECT_EQ(address(base), QStringLiteral("refused: ") + msg::kNeedsHttps) << base;
}

TEST(APIRulesTest, ErrorRepliesMapToSentencesInTableOrder)
{
    const std::tuple<int, const char*, const char*> cases[] = {
        {400, R"({"error":"invalid_phone"})", msg::kBadPhone},
        {429, R"({"error":"sms_unavailable"})", msg::kSmsUnavailable},
        {503, R"({"message":"phone_not_configured","error":"x"})", msg::kSmsNotConfigured},
        {401, R"({"message":"token expired"})", msg::kWrongCode},
        {503, "<html><body>Service Unavailable</body></html>", msg::kNetworkFailed},
        {500, R"({"message":5,"error":"disk_full"})", "disk_full"},
    };
    for (const auto& [status, body, message] : cases)
        EXPECT_EQ(APIError::fromReply(status, body), (APIError{message, status, APIError::Source::Relay})) << body;
}

TEST(EventBatchTest, DecodesEveryMemberAndKeepsLargeIntegersExact)
{
    const auto batch = EventBatch::decode(R"({"cursor":9007199254740993,"ignored":true,"events":[
        {"utterance":"u1","text":"你好","final":true,"seq":2e1,"at":1.5,"session":"s1","type":"speech","extra":[1]},
        {"utterance":null,"text":null,"final":null,"session":null,"type":null,"seq":9007199254740993,"at":2}]})");
    ASSERT_TRUE(batch && batch->events.size() == 2);
    EXPECT_EQ(batch->cursor, 9007199254740993LL);
    EXPECT_EQ(batch->events[0], (Transcript{"u1", "你好", true, 20, 1.5, "s1", "speech"}));
    EXPECT_EQ(batch->events[1], (Transcript{{}, {}, {}, 9007199254740993LL, 2, {}, {}})); // nulls are absent
}

TEST(EventBatchTest, AnyFlawRefusesTheWholeBatch)
{
    for (const char* json : {R"({"events":[],"cursor":3)", R"({"events":{},"cursor":3})", R"({"events":[]})",
                             R"({"events":[],"cursor":"3"})", R"({"events":[],"cursor":3.5})",
                             R"({"events":[],"cursor":1e300})", R"({"events":[],"cursor":1e18})",
                             R"({"events":[],"cursor":9007199254740993.0})", // rounded before it is read
                             R"({"cursor":3,"events":[{"seq":-9007199254740994.0,"at":1}]})", R"({"cursor":3,"events":[7]})",
                             R"({"cursor":3,"events":[{"seq":1,"at":1},{"at":2}]})", // the second lacks "seq"
                             R"({"cursor":3,"events":[{"seq":1}]})", R"({"cursor":3,"events":[{"seq":5.9,"at":1}]})",
                             R"({"cursor":3,"events":[{"seq":1,"at":1,"final":1}]})",
                             R"({"cursor":3,"events":[{"seq":1,"at":1,"text":5}]})"})
        EXPECT_FALSE(EventBatch::decode(json)) << json;
}

// An input session noting what routing hands it: "u1:text" interim, "u1=text" final, "-" interim taken away.
struct Field final : VoiceTarget {
    const QUuid id = QUuid::createUuid();
    QUuid epoch = QUuid::createUuid();
    QStringList heard;

    const QUuid& identity() const override { return id; }
    const QUuid& focusEpoch() const override { return epoch; }
    void voice(const QString& text, bool final, const QString& u) override { heard << u + (final ? '=' : ':') + text; }
    void abandonVoice() override { heard << QStringLiteral("-"); }
};

// Pausing and focus moving to another field are also shown with real components: DesktopWindowsTest, RealClientTest.
class RoutingTest : public ::testing::Test {
protected:
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    RecordingShell shell;
    DesktopState state{secrets, defaults, nullptr};
    Router router{state};
    Field field;
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
    Transcript done(const QString& id, const QString& text, double age = 0) { return said(id, text, age, true); }
};

TEST_F(RoutingTest, TheFocusedFieldGetsInterimsAndTheFinalOnceAndSessionEndTakesInterimTextAway)
{
    const Transcript end{{}, {}, {}, 0, now, {}, "session_end"};
    const Transcript textless{"u2", {}, {}, 0, now, {}, {}};
    const Transcript spoken{"u1", "你好。", true, 0, now, {}, end.type}; // with text, a transcript whatever its type
    router.consume(end); // nothing focused: nothing to do
    router.focus(&field);
    router.consume(QList{said("u1", "你"), said("u1", "你好"), end, textless, spoken, spoken, done("u1", "又好")});
    EXPECT_EQ(state.historyText(), "你好。");
    state.clearHistory(); // does not let a repeat back in
    router.consume(spoken);
    EXPECT_EQ(field.heard, (QStringList{"u1:你", "u1:你好", "-", "u1=你好。"}));
    EXPECT_TRUE(state.history().isEmpty());
    EXPECT_EQ(shell.idleShows, 0);
}

TEST_F(RoutingTest, TextBegunElsewhereOrPausedOrThreeSecondsOldIsKeptButNotTyped)
{
    router.consume(said("u0", "零")); // bound to no field; the panel shows
    router.focus(&field);
    router.consume(QList{said("u0", "零一"), said("u1", "一")});
    field.epoch = QUuid::createUuid(); // focus left the field and came back
    router.consume(QList{done("u0", "零一二"), done("u1", "一二")});
    EXPECT_EQ(shell.idleShows, 1); // a field has focus, whatever the text is bound to
    state.setPaused(true);
    router.consume(QList{said("u2", "二"), done("u2", "二三"), done("u2", "二三"), done("u3", "三")});
    EXPECT_EQ(shell.idleShows, 4); // the repeated final has no effect at all
    state.setPaused(false);
    // The phone's clock may be ahead of this one.
    router.consume(QList{said("u4", "旧", 3000), said("u5", "新", 2999), said("u6", "前", -60000)});
    router.consume(done("u4", "旧的", 4000));
    EXPECT_EQ(field.heard, (QStringList{"u1:一", "-", "u5:新", "u6:前"}));
    EXPECT_EQ(state.historyText(), "零一二\n一二\n二三\n三\n旧的");
    EXPECT_EQ(shell.idleShows, 6);
}

TEST_F(RoutingTest, MoreThanTwoHundredOpenUtterancesAreForgotten)
{
    router.focus(&field);
    for (int i = 0; i < 200; ++i)
        router.consume(said(QStringLiteral("open-%1").arg(i), "x"));
    field.epoch = QUuid::createUuid();
    router.consume(QList{said("open-0", "xy"), said("trigger", "t"), said("open-0", "xyz")}); // 200 kept, 201 forgotten
    EXPECT_EQ(field.heard.mid(200), (QStringList{"trigger:t", "open-0:xyz"}));
}

} // namespace
} // namespace tellwire
