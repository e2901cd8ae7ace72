// The relay as the desktop and the phone see it: each request, each refusal
// and its body, served over HTTP on loopback.
#include "RelayHarness.h"

#include <gmock/gmock.h>

#include <future>

using namespace tellwire;
using namespace tellwire::test;
using namespace std::chrono_literals;
using nlohmann::json;
using testing::ElementsAre;
using testing::SizeIs;

namespace {

const std::string kNumber = "13800138000";

void expectRefusal(const Reply& reply, int status, const std::string& error)
{
    EXPECT_EQ(reply.status, status) << reply.raw;
    ASSERT_TRUE(reply.body.is_object()) << reply.raw;
    EXPECT_EQ(reply.body.value("error", ""), error) << reply.raw;
    ASSERT_TRUE(reply.body.contains("message") && reply.body["message"].is_string()) << reply.raw;
    EXPECT_FALSE(reply.body["message"].get<std::string>().empty());
}

json verifyBody(const std::string& phone, const std::string& code, const std::string& role = "desktop")
{
    return {{"phone", phone}, {"code", code}, {"role", role}, {"device_id", "dev-1"}};
}

Reply requestCode(RelayHarness& relay, const json& phone)
{
    return relay.post("/v1/auth/phone/request", {{"phone", phone}});
}

Reply verify(RelayHarness& relay, const std::string& code, const std::string& phone = kNumber)
{
    return relay.post("/v1/auth/phone/verify", verifyBody(phone, code));
}

json utterance(const std::string& id, const std::string& text, bool final = false)
{
    return {{"utterance", id}, {"text", text}, {"final", final}, {"session", "s-1"}};
}

std::vector<int> seqs(const Reply& reply)
{
    std::vector<int> out;
    for (const auto& event : reply.body["events"])
        out.push_back(event["seq"]);
    return out;
}

const json kEmpty = json::array();

} // namespace

TEST(RelaySignIn, EveryFormOfANumberIsOneAccountWithARandomTokenPerRole)
{
    RelayHarness relay;
    for (const char* phone : {"13800138000", "8613800138000", "+8613800138000"})
        EXPECT_EQ(requestCode(relay, phone).status, 200) << phone;

    const std::string desktop = relay.signIn("+8613800138000", "desktop");
    const std::string phone = relay.signIn(kNumber, "phone");
    EXPECT_THAT(desktop, testing::MatchesRegex("[0-9a-f]{64}"));
    EXPECT_THAT(phone, testing::MatchesRegex("[0-9a-f]{64}"));
    EXPECT_NE(desktop, phone);

    const Reply me = relay.get("/v1/me", phone);
    ASSERT_EQ(me.status, 200);
    EXPECT_EQ(me.body, json({{"phone", kNumber}, {"role", "phone"}, {"device_id", "phone-test"}}));
    ASSERT_EQ(relay.publish(phone, utterance("u1", "你好", true)).status, 200);
    EXPECT_THAT(relay.events(desktop, -1).body["events"], SizeIs(1));
}

TEST(RelaySignIn, RefusesBadNumbersRolesAndIncompleteRequests)
{
    RelayHarness relay;
    // The full pattern is checked in PhoneNumberRule; here the refusal's form.
    for (const json& phone : {json("+86 13800138000"), json(13800138000LL)})
        expectRefusal(requestCode(relay, phone), 400, "invalid_phone");
    expectRefusal(relay.post("/v1/auth/phone/request", json::object()), 400, "invalid_phone");
    expectRefusal(verify(relay, "123456", "1380013800"), 400, "invalid_phone");

    requestCode(relay, kNumber);
    expectRefusal(relay.post("/v1/auth/phone/verify", verifyBody(kNumber, "123456", "admin")), 400, "invalid_role");
    expectRefusal(relay.post("/v1/auth/phone/verify", {{"phone", kNumber}, {"code", "123456"}}), 400,
                  "invalid_request");
    // None of these used the code up.
    EXPECT_EQ(verify(relay, "123456").status, 200);
}

TEST(RelayCodes, AreSingleUseExpireAfterFiveMinutesAndFallToGuessing)
{
    RelayHarness relay;
    requestCode(relay, kNumber);
    relay.advance(5 * 60 * 1000 - 1);
    EXPECT_EQ(verify(relay, "123456").status, 200);
    expectRefusal(verify(relay, "123456"), 401, "invalid_code");

    requestCode(relay, kNumber);
    relay.advance(5 * 60 * 1000);
    expectRefusal(verify(relay, "123456"), 401, "invalid_code");

    // Too many wrong codes discard the live one.
    requestCode(relay, kNumber);
    for (int i = 0; i < 5; ++i)
        expectRefusal(verify(relay, "654321"), 401, "invalid_code");
    expectRefusal(verify(relay, "123456"), 401, "invalid_code");
}

TEST(RelayCodes, RequestsAreRateLimitedPerNumberPerMinute)
{
    RelayHarness relay;
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(requestCode(relay, "+8613800138000").status, 200);
    expectRefusal(requestCode(relay, kNumber), 429, "rate_limited");
    EXPECT_EQ(requestCode(relay, "13900139000").status, 200) << "another number is not affected";
    relay.advance(60 * 1000);
    EXPECT_EQ(requestCode(relay, kNumber).status, 200);
}

TEST(RelayTokens, SpeakOnlyForTheirAccountAndRole)
{
    RelayHarness relay(RelayHarness::withHold(0ms));
    expectRefusal(relay.get("/v1/me"), 401, "unauthorized");
    expectRefusal(relay.events(std::string(64, 'a'), -1), 401, "unauthorized");
    expectRefusal(relay.publish("nope", utterance("u", "x")), 401, "unauthorized");

    const std::string desktopA = relay.signIn(kNumber, "desktop");
    const std::string phoneA = relay.signIn(kNumber, "phone");
    const std::string desktopB = relay.signIn("13900139000", "desktop");
    expectRefusal(relay.events(phoneA, -1), 403, "forbidden");
    expectRefusal(relay.publish(desktopA, utterance("u", "x")), 403, "forbidden");

    ASSERT_EQ(relay.publish(phoneA, utterance("u1", "只给 A", true)).status, 200);
    EXPECT_EQ(relay.events(desktopB, -1).body, json({{"events", kEmpty}, {"cursor", 0}}));
    EXPECT_THAT(relay.events(desktopA, -1).body["events"], SizeIs(1));
}

TEST(RelayTokens, TheLeastRecentlyUsedAccountIsDroppedWhenFull)
{
    RelayOptions options = RelayHarness::withHold(0ms);
    options.limits.accounts = 2;
    RelayHarness relay(options);
    const std::string first = relay.signIn("13800000001", "desktop");
    const std::string second = relay.signIn("13800000002", "desktop");
    ASSERT_EQ(relay.get("/v1/me", first).status, 200); // now the second is the oldest
    relay.signIn("13800000003", "desktop");
    EXPECT_EQ(relay.get("/v1/me", first).status, 200);
    expectRefusal(relay.get("/v1/me", second), 401, "unauthorized");
}

TEST(RelayEvents, CarryTheDesktopsEventFormWithSeqAndTimeFromTheRelay)
{
    RelayHarness relay(RelayHarness::withHold(0ms));
    const std::string desktop = relay.signIn(kNumber, "desktop");
    const std::string phone = relay.signIn(kNumber, "phone");

    const Reply published = relay.publish(phone, utterance("u1", "你好", false));
    EXPECT_EQ(published.body, json({{"seq", 1}, {"at", RelayHarness::startTime}, {"cursor", 1}})) << published.raw;
    relay.advance(250);
    relay.publish(phone, {{"utterance", "u1"}, {"text", "你好世界"}, {"final", true}, {"session", "s-1"},
                          {"at", 5}, {"seq", 99}, {"extra", "ignored"}});
    relay.publish(phone, {{"type", "session_end"}, {"session", "s-1"}, {"utterance", nullptr}});

    const Reply batch = relay.events(desktop, -1);
    ASSERT_EQ(batch.status, 200);
    EXPECT_EQ(batch.body["cursor"], 3);
    const std::int64_t later = RelayHarness::startTime + 250;
    const json expected = json::array({
        {{"utterance", "u1"}, {"text", "你好"}, {"final", false}, {"session", "s-1"}, {"seq", 1}, {"at", RelayHarness::startTime}},
        {{"utterance", "u1"}, {"text", "你好世界"}, {"final", true}, {"session", "s-1"}, {"seq", 2}, {"at", later}},
        {{"type", "session_end"}, {"final", false}, {"session", "s-1"}, {"seq", 3}, {"at", later}},
    });
    EXPECT_EQ(batch.body["events"], expected);
}

TEST(RelayEvents, CursorSemantics)
{
    RelayOptions options = RelayHarness::withHold(0ms);
    options.limits.eventsPerAccount = 5;
    options.limits.eventsPerReply = 3;
    RelayHarness relay(options);
    const std::string desktop = relay.signIn(kNumber, "desktop");
    const std::string phone = relay.signIn(kNumber, "phone");

    EXPECT_EQ(relay.events(desktop, -1).body["cursor"], 0) << "nothing yet";
    for (int i = 1; i <= 7; ++i)
        relay.publish(phone, utterance("u" + std::to_string(i), "t"));

    // Only the newest five are kept; after=-1 reads from the oldest kept, at most three at a time.
    const Reply fromStart = relay.events(desktop, -1);
    EXPECT_THAT(seqs(fromStart), ElementsAre(3, 4, 5));
    EXPECT_EQ(fromStart.body["cursor"], 5);
    EXPECT_THAT(seqs(relay.events(desktop, 5)), ElementsAre(6, 7));
    EXPECT_THAT(seqs(relay.events(desktop, 1)), ElementsAre(3, 4, 5)) << "cursor older than what is kept";
    EXPECT_EQ(relay.events(desktop, 7).body, json({{"events", kEmpty}, {"cursor", 7}}));
    // A cursor this relay never gave out (a relay restarted under the desktop) reads from the start.
    EXPECT_THAT(seqs(relay.events(desktop, 57)), ElementsAre(3, 4, 5));

    for (const char* bad : {"abc", "-2", "1.5", "", "99999999999999999999", "5x", "+5"})
        expectRefusal(relay.get(std::string("/v1/events?after=") + bad, desktop), 400, "invalid_cursor");
}

TEST(RelayEvents, AHeldRequestIsAnsweredByAPublishOrWhenTheHoldRunsOut)
{
    RelayHarness relay(RelayHarness::withHold(400ms));
    const std::string desktop = relay.signIn(kNumber, "desktop");
    const std::string phone = relay.signIn(kNumber, "phone");

    auto poll = std::async(std::launch::async, [&] { return relay.events(desktop, 0); });
    ASSERT_TRUE(relay.relay.waitForHeldPolls(1, 5s));
    relay.publish(phone, utterance("u1", "醒来"));
    const Reply woken = poll.get();
    ASSERT_THAT(woken.body["events"], SizeIs(1)) << woken.raw;
    EXPECT_EQ(woken.body["events"][0]["text"], "醒来");
    EXPECT_EQ(woken.body["cursor"], 1);

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(relay.events(desktop, 1).body, json({{"events", kEmpty}, {"cursor", 1}}));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 400ms);
}

TEST(RelayEvents, PollsBeyondTheHeldLimitAreRefusedNotAnsweredEmpty)
{
    // An empty batch at once would send the desktop straight back, over and over.
    RelayOptions options = RelayHarness::withHold(20s);
    options.limits.heldPolls = 1;
    RelayHarness relay(options);
    const std::string desktop = relay.signIn(kNumber, "desktop");
    auto held = std::async(std::launch::async, [&] { return relay.events(desktop, 0); });
    ASSERT_TRUE(relay.relay.waitForHeldPolls(1, 5s));
    expectRefusal(relay.events(desktop, 0), 503, "busy");
    relay.server.stop(); // stopping answers the held request at once
    ASSERT_EQ(held.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(held.get().body, json({{"events", kEmpty}, {"cursor", 0}}));
}

TEST(RelayEvents, PublishedEventsAreChecked)
{
    RelayHarness relay(RelayHarness::withHold(0ms));
    const std::string phone = relay.signIn(kNumber, "phone");
    const std::pair<json, std::pair<int, const char*>> cases[] = {
        {{{"utterance", "u"}}, {400, "invalid_event"}},
        {{{"utterance", "u"}, {"text", 5}}, {400, "invalid_event"}},
        {{{"utterance", "u"}, {"text", "x"}, {"final", "yes"}}, {400, "invalid_event"}},
        {{{"utterance", "u"}, {"text", std::string(4001, 'x')}}, {413, "too_large"}},
        {{{"type", std::string(65, 't')}}, {413, "too_large"}},
    };
    for (const auto& [event, refusal] : cases)
        expectRefusal(relay.publish(phone, event), refusal.first, refusal.second);
    EXPECT_EQ(relay.publish(phone, {{"utterance", "u"}, {"text", std::string(4000, 'x')}}).status, 200);
}

TEST(RelayRequests, MalformedOversizedOrMisdirectedRequestsGetAnErrorBody)
{
    RelayHarness relay(RelayHarness::withHold(0ms));
    const std::string phone = relay.signIn(kNumber, "phone");
    const auto post = [&](const std::string& path, const std::string& body, const std::string& token = {}) {
        return send(relay.port, "POST", path, body, token);
    };
    for (const char* body : {"", "{", "[1,2]", "null", "{\"phone\": \"1380013800\xff\"}"})
        expectRefusal(post("/v1/auth/phone/request", body), 400, "invalid_json");
    expectRefusal(post("/v1/events", "{\"text\": \"\xc3\x28\"}", phone), 400, "invalid_json");

    const std::string big = json({{"phone", std::string(20000, '1')}}).dump();
    expectRefusal(post("/v1/auth/phone/request", big), 413, "too_large");
    expectRefusal(post("/v1/events", big, phone), 413, "too_large");

    // A chunked body announces no length; it is cut off at the limit all the same.
    httplib::Client client("127.0.0.1", relay.port);
    const std::string chunk(8000, 'a');
    int sent = 0;
    const auto chunked = client.Post(
        "/v1/auth/phone/request",
        [&](size_t, httplib::DataSink& sink) {
            if (sent++ < 10)
                sink.write(chunk.data(), chunk.size());
            else
                sink.done();
            return true;
        },
        "application/json");
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->status, 413);
    EXPECT_EQ(json::parse(chunked->body, nullptr, false).value("error", ""), "too_large");

    expectRefusal(relay.get("/v1/nothing"), 404, "not_found");
    const auto put = client.Put("/v1/events", "{}", "application/json");
    ASSERT_TRUE(put);
    EXPECT_EQ(put->status, 405);
    EXPECT_EQ(json::parse(put->body, nullptr, false).value("error", ""), "method_not_allowed");

    EXPECT_EQ(requestCode(relay, "13900139000").status, 200) << "the relay is still there";
}
