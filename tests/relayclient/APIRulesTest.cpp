#include "relayclient/API.h"
#include "relayclient/EventBatch.h"
#include "support/Messages.h"
#include "support/Printers.h"

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
    for (const char* origin : {"https://relay.example.com:8443", "https://relay.example.com/api", "http://localhost:8080",
                               "http://localhost", "http://127.0.0.1:1"})
        EXPECT_EQ(address(origin), QString::fromLatin1(origin) + "/v1/events?after=-1");
    EXPECT_EQ(address("https://relay.example.com///"), "https://relay.example.com/v1/events?after=-1");
    for (const char* base : {"http://192.168.1.20:8080", "http://relay.example.com", "http://127.0.0.1.evil.com", "ftp://localhost",
                             "http://localhost@evil.com", "relay.example.com", "localhost:8080", "https://", "", "https://a b.com"})
        EXPECT_EQ(address(base), QStringLiteral("refused: ") + msg::kNeedsHttps) << base;
}

TEST(APIRulesTest, ErrorRepliesMapToSentencesInTableOrder)
{
    const std::tuple<int, const char*, const char*> cases[] = {
        {400, R"({"error":"invalid_phone"})", msg::kBadPhone},
        {400, R"({"error":"invalid_phone","message":"号码不对"})", "号码不对"},
        {429, R"({"error":"sms_unavailable"})", msg::kSmsUnavailable},
        {503, R"({"message":"phone_not_configured","error":"x"})", msg::kSmsNotConfigured},
        {401, R"({"message":"token expired"})", msg::kWrongCode},
        {503, "<html><body>Service Unavailable</body></html>", msg::kNetworkFailed},
        {500, R"({"message":5,"error":"disk_full"})", "disk_full"},
        {500, R"(["message","oops"])", msg::kNetworkFailed},
    };
    for (const auto& [status, body, message] : cases)
        EXPECT_EQ(APIError::fromReply(status, body), (APIError{message, status, APIError::Source::Relay})) << body;
}

TEST(EventBatchTest, DecodesEveryMemberAndKeepsLargeIntegersExact)
{
    const auto batch = EventBatch::decode(R"({"cursor": 9007199254740993, "ignored": true, "events": [
        {"utterance": "u1", "text": "你好", "final": true, "seq": 2e1, "at": 1.5, "session": "s1", "type": "speech", "extra": [1]},
        {"utterance": null, "text": null, "final": null, "session": null, "type": null, "seq": 9007199254740993, "at": 2}]})");
    ASSERT_TRUE(batch && batch->events.size() == 2);
    EXPECT_EQ(batch->cursor, 9007199254740993LL);
    EXPECT_EQ(batch->events[0], (Transcript{"u1", "你好", true, 20, 1.5, "s1", "speech"}));
    // Nulls are absent.
    EXPECT_EQ(batch->events[1], (Transcript{{}, {}, {}, 9007199254740993LL, 2, {}, {}}));
}

TEST(EventBatchTest, AnyFlawRefusesTheWholeBatch)
{
    for (const char* json : {"", R"({"events": [], "cursor": 3)", R"([{"events": [], "cursor": 3}])", R"({"cursor": 3})",
                             R"({"events": {}, "cursor": 3})", R"({"events": []})", R"({"events": [], "cursor": "3"})",
                             R"({"events": [], "cursor": 3.5})", R"({"events": [], "cursor": 1e300})",
                             R"({"cursor": 3, "events": [{"seq": 1, "at": 1}, {"at": 2}]})", // the second lacks "seq"
                             R"({"cursor": 3, "events": [{"seq": 1}]})", R"({"cursor": 3, "events": [{"seq": 5.9, "at": 1}]})",
                             R"({"cursor": 3, "events": [{"seq": 1, "at": "1"}]})", R"({"cursor": 3, "events": [7]})",
                             R"({"cursor": 3, "events": [{"seq": 1, "at": 1, "final": 1}]})",
                             R"({"cursor": 3, "events": [{"seq": 1, "at": 1, "text": 5}]})"})
        EXPECT_FALSE(EventBatch::decode(json)) << json;
}

} // namespace
} // namespace tellwire
