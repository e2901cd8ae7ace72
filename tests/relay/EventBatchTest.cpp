#include "relay/EventBatch.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

std::optional<EventBatch> decode(const char* json)
{
    return EventBatch::decode(QByteArray(json));
}

TEST(EventBatchTest, DecodesEveryMemberAndKeepsLargeIntegersExact)
{
    const auto batch = decode(R"({"cursor": 9007199254740993, "ignored": true, "events": [
        {"utterance": "u1", "text": "你好", "final": true, "seq": 9007199254740993,
         "at": 1700000000123.5, "session": "s1", "type": "speech", "extra": [1]},
        {"seq": -4, "at": 17, "type": "session_end"},
        {"utterance": null, "text": null, "final": null, "session": null, "type": null, "seq": 2e1, "at": 2}]})");
    ASSERT_TRUE(batch);
    EXPECT_EQ(batch->cursor, 9007199254740993LL);
    ASSERT_EQ(batch->events.size(), 3);
    EXPECT_EQ(batch->events[0], (Transcript{"u1", "你好", true, 9007199254740993LL, 1700000000123.5, "s1", "speech"}));
    EXPECT_EQ(batch->events[1], (Transcript{std::nullopt, std::nullopt, std::nullopt, -4, 17, std::nullopt, "session_end"}));
    EXPECT_EQ(batch->events[0].id(), QStringLiteral("u1"));
    EXPECT_EQ(batch->events[1].id(), QStringLiteral("end--4"));
    // Nulls are absent; an integral number written with a fraction or exponent is an integer.
    EXPECT_EQ(batch->events[2], (Transcript{std::nullopt, std::nullopt, std::nullopt, 20, 2, std::nullopt, std::nullopt}));
    EXPECT_EQ(decode(R"({"cursor": 57.0, "events": []})")->cursor, 57);
}

TEST(EventBatchTest, AnyFlawRefusesTheWholeBatch)
{
    const char* refused[] = {
        "",
        R"({"events": [], "cursor": 3)",
        R"([{"events": [], "cursor": 3}])",
        R"({"events": []})",
        R"({"cursor": 3})",
        R"({"events": {}, "cursor": 3})",
        R"({"events": [], "cursor": "3"})",
        R"({"events": [], "cursor": 3.5})",
        R"({"events": [], "cursor": null})",
        R"({"events": [], "cursor": 1e300})",
        R"({"events": [], "cursor": 99999999999999999999})",
        // the second event lacks "seq"
        R"({"cursor": 3, "events": [{"seq": 1, "at": 1}, {"at": 2}]})",
        R"({"cursor": 3, "events": [{"seq": 1}]})",
        R"({"cursor": 3, "events": [{"seq": 5.9, "at": 1}]})",
        R"({"cursor": 3, "events": [{"seq": 1, "at": "1"}]})",
        R"({"cursor": 3, "events": [{"seq": 1, "at": 1, "final": 1}]})",
        R"({"cursor": 3, "events": [{"seq": 1, "at": 1, "text": 5}]})",
        R"({"cursor": 3, "events": [{"seq": 1, "at": 1, "utterance": ["u"]}]})",
        R"({"cursor": 3, "events": [{"seq": 1, "at": 1, "session": {}}]})",
        R"({"cursor": 3, "events": [{"seq": 1, "at": 1, "type": false}]})",
        R"({"cursor": 3, "events": [7]})",
    };
    for (const char* json : refused)
        EXPECT_FALSE(decode(json)) << json;
}

} // namespace
} // namespace tellwire
