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
        {"seq": -4, "at": 17, "type": "session_end"}]})");
    ASSERT_TRUE(batch);
    EXPECT_EQ(batch->cursor, 9007199254740993LL);
    ASSERT_EQ(batch->events.size(), 2);
    const Transcript& first = batch->events[0];
    EXPECT_EQ(first.utterance, QStringLiteral("u1"));
    EXPECT_EQ(first.text, QStringLiteral("你好"));
    EXPECT_EQ(first.final, true);
    EXPECT_EQ(first.seq, 9007199254740993LL);
    EXPECT_DOUBLE_EQ(first.at, 1700000000123.5);
    EXPECT_EQ(first.session, QStringLiteral("s1"));
    EXPECT_EQ(first.type, QStringLiteral("speech"));
    const Transcript& second = batch->events[1];
    EXPECT_FALSE(second.utterance || second.text || second.final || second.session);
    EXPECT_FALSE(second.isFinal());
    EXPECT_EQ(second.seq, -4);
    EXPECT_EQ(first.id(), QStringLiteral("u1"));
    EXPECT_EQ(second.id(), QStringLiteral("end--4"));
}

TEST(EventBatchTest, NullsAreAbsentAndIntegralNumbersWithAFractionAreIntegers)
{
    const auto batch = decode(R"({"cursor": 57.0, "events": [
        {"utterance": null, "text": null, "final": null, "session": null, "type": null, "seq": 2e1, "at": 2}]})");
    ASSERT_TRUE(batch);
    EXPECT_EQ(batch->cursor, 57);
    EXPECT_EQ(batch->events[0], (Transcript{std::nullopt, std::nullopt, std::nullopt, 20, 2, std::nullopt, std::nullopt}));

    const auto empty = decode(R"({"events": [], "cursor": 3})");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->events.isEmpty());
    EXPECT_EQ(empty->cursor, 3);
}

TEST(EventBatchTest, AnyFlawRefusesTheWholeBatch)
{
    const char* refused[] = {
        "",
        "not json",
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
        R"({"cursor": 3, "events": [{"seq": 1, "at": 1, "final": "true"}]})",
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
