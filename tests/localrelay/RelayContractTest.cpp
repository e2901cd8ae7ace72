// The relay as the desktop and the phone see it: each request, each refusal
// and its body, served over HTTP on loopback.
#include "RelayHarness.h"

#include <gmock/gmock.h>
#include <httplib.h>

#include <future>
#include <regex>

using namespace tellwire;
using namespace tellwire::test;
using namespace std::chrono_literals;
using nlohmann::json;
using testing::SizeIs;

namespace {

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

json utterance(const std::string& id, const std::string& text, bool final = false)
{
    return {{"utterance", id}, {"text", text}, {"final", final}, {"session", "s-1"}};
}

} // namespace

TEST(RelaySignIn, AcceptsEveryFormOfAMainlandNumberAsOneAccount)
{
    RelayHarness relay;
    for (const char* phone : {"13800138000", "8613800138000", "+8613800138000"})
        EXPECT_EQ(relay.post("/v1/auth/phone/request", {{"phone", phone}}).status, 200) << phone;

    const std::string desktop = relay.signIn("+8613800138000", "desktop");
    const std::string phone = relay.signIn("13800138000", "phone");
    ASSERT_FALSE(desktop.empty());
    ASSERT_FALSE(phone.empty());
    ASSERT_EQ(relay.publish(phone, utterance("u1", "你好", true)).status, 200);
    const Reply batch = relay.events(desktop, -1);
    ASSERT_EQ(batch.status, 200);
    EXPECT_THAT(batch.body["events"], SizeIs(1));
    EXPECT_EQ(relay.get("/v1/me", desktop).body["phone"], "13800138000");
}

TEST(RelaySignIn, RefusesNumbersTheDesktopRefuses)
{
    RelayHarness relay;
    for (const char* phone : {"12800138000", "1380013800", "138001380001", "138 0013 8000", "+86 13800138000",
                              "+8513800138000", "", "１３８００１３８０００"})
        expectRefusal(relay.post("/v1/auth/phone/request", {{"phone", phone}}), 400, "invalid_phone");
    expectRefusal(relay.post("/v1/auth/phone/request", {{"phone", 13800138000LL}}), 400, "invalid_phone");
    expectRefusal(relay.post("/v1/auth/phone/request", json::object()), 400, "invalid_phone");
    expectRefusal(relay.post("/v1/auth/phone/verify", verifyBody("1380013800", "123456")), 400, "invalid_phone");
}

TEST(RelaySignIn, VerifyReturnsADistinctRandomTokenBoundToTheRole)
{
    RelayHarness relay;
    relay.post("/v1/auth/phone/request", {{"phone", "13800138000"}});
    relay.post("/v1/auth/phone/request", {{"phone", "13800138000"}});
    const Reply first = relay.post("/v1/auth/phone/verify", verifyBody("13800138000", "123456", "desktop"));
    const Reply second = relay.post("/v1/auth/phone/verify", verifyBody("13800138000", "123456", "phone"));
    ASSERT_EQ(first.status, 200) << first.raw;
    ASSERT_EQ(second.status, 200) << second.raw;
    const std::string a = first.body["token"], b = second.body["token"];
    EXPECT_THAT(a, testing::MatchesRegex("[0-9a-f]{64}"));
    EXPECT_NE(a, b);

    const Reply me = relay.get("/v1/me", b);
    ASSERT_EQ(me.status, 200);
    EXPECT_EQ(me.body["role"], "phone");
    EXPECT_EQ(me.body["device_id"], "dev-1");
    EXPECT_THAT(relay.notices(), testing::Contains("phone signed in for 13800138000"));
}

TEST(RelaySignIn, RefusesUnknownRolesAndIncompleteRequests)
{
    RelayHarness relay;
    relay.post("/v1/auth/phone/request", {{"phone", "13800138000"}});
    expectRefusal(relay.post("/v1/auth/phone/verify", verifyBody("13800138000", "123456", "admin")), 400,
                  "invalid_role");
    expectRefusal(relay.post("/v1/auth/phone/verify", {{"phone", "13800138000"}, {"code", "123456"}}), 400,
                  "invalid_request");
    expectRefusal(relay.post("/v1/auth/phone/verify",
                             {{"phone", "13800138000"}, {"code", 123456}, {"role", "desktop"}, {"device_id", "d"}}),
                  400, "invalid_request");
    // None of these used the code up.
    EXPECT_EQ(relay.post("/v1/auth/phone/verify", verifyBody("13800138000", "123456")).status, 200);
}

TEST(RelayCodes, AreSingleUse)
{
    RelayHarness relay;
    relay.post("/v1/auth/phone/request", {{"phone", "13800138000"}});
    EXPECT_EQ(relay.post("/v1/auth/phone/verify", verifyBody("13800138000", "123456")).status, 200);
    expectRefusal(relay.post("/v1/auth/phone/verify", verifyBody("13800138000", "123456")), 401, "invalid_code");
}

TEST(RelayCodes, ExpireAfterFiveMinutes)
{
    RelayHarness relay;
    relay.post("/v1/auth/phone/request", {{"phone", "13800138000"}});
    relay.advance(5 * 60 * 1000 - 1);
    EXPECT_EQ(relay.post("/v1/auth/phone/verify", verifyBody("13800138000", "123456")).status, 200);

    relay.post("/v1/auth/phone/request", {{"phone", "13800138000"}});
    relay.advance(5 * 60 * 1000);
    expectRefusal(relay.post("/v1/auth/phone/verify", verifyBody("13800138000", "123456")), 401, "invalid_code");
}

TEST(RelayCodes, WithoutAFixedCodeAreRandomSixDigitsPrintedOnTheConsole)
{
    RelayOptions options = RelayHarness::withHold(0ms);
    options.fixedCode.reset();
    RelayHarness relay(options);
    relay.post("/v1/auth/phone/request", {{"phone", "13900139000"}});
    relay.post("/v1/auth/phone/request", {{"phone", "13900139000"}});
    const auto lines = relay.notices();
    ASSERT_THAT(lines, SizeIs(2));
    std::smatch match;
    const std::regex line(R"(code ([0-9]{6}) for 13900139000 \(valid 5 minutes\))");
    ASSERT_TRUE(std::regex_match(lines[0], match, line)) << lines[0];
    const std::string first = match[1];
    ASSERT_TRUE(std::regex_match(lines[1], match, line)) << lines[1];
    const std::string second = match[1];

    const std::string wrong = first == "000000" || second == "000000" ? "999999" : "000000";
    expectRefusal(relay.post("/v1/auth/phone/verify", verifyBody("13900139000", wrong)), 401, "invalid_code");
    // Both live codes work, each once.
    EXPECT_EQ(relay.post("/v1/auth/phone/verify", verifyBody("13900139000", second)).status, 200);
    if (first != second) {
        EXPECT_EQ(relay.post("/v1/auth/phone/verify", verifyBody("13900139000", first)).status, 200);
    }
}

TEST(RelayCodes, TooManyWrongCodesDiscardTheLiveOnes)
{
    RelayHarness relay;
    relay.post("/v1/auth/phone/request", {{"phone", "13800138000"}});
    for (int i = 0; i < 5; ++i)
        expectRefusal(relay.post("/v1/auth/phone/verify", verifyBody("13800138000", "654321")), 401, "invalid_code");
    expectRefusal(relay.post("/v1/auth/phone/verify", verifyBody("13800138000", "123456")), 401, "invalid_code");
}

TEST(RelayCodes, RequestsAreRateLimitedPerNumberPerMinute)
{
    RelayHarness relay;
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(relay.post("/v1/auth/phone/request", {{"phone", "+8613800138000"}}).status, 200);
    expectRefusal(relay.post("/v1/auth/phone/request", {{"phone", "13800138000"}}), 429, "rate_limited");
    // Another number is not affected.
    EXPECT_EQ(relay.post("/v1/auth/phone/request", {{"phone", "13900139000"}}).status, 200);
    relay.advance(60 * 1000);
    EXPECT_EQ(relay.post("/v1/auth/phone/request", {{"phone", "13800138000"}}).status, 200);
}

TEST(RelayTokens, UnknownOrMissingTokensAreRefused)
{
    RelayHarness relay;
    expectRefusal(relay.get("/v1/me"), 401, "unauthorized");
    expectRefusal(relay.get("/v1/me", std::string(64, 'a')), 401, "unauthorized");
    expectRefusal(relay.get("/v1/events?after=-1", "nope"), 401, "unauthorized");
    expectRefusal(relay.publish("nope", utterance("u", "x")), 401, "unauthorized");
}

TEST(RelayTokens, EachRoleDoesOnlyItsOwnPart)
{
    RelayHarness relay;
    const std::string desktop = relay.signIn("13800138000", "desktop");
    const std::string phone = relay.signIn("13800138000", "phone");
    expectRefusal(relay.events(phone, -1), 403, "forbidden");
    expectRefusal(relay.publish(desktop, utterance("u", "x")), 403, "forbidden");
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

TEST(RelayEvents, AccountsAreIsolated)
{
    RelayHarness relay(RelayHarness::withHold(0ms));
    const std::string desktopA = relay.signIn("13800138000", "desktop");
    const std::string phoneA = relay.signIn("13800138000", "phone");
    const std::string desktopB = relay.signIn("13900139000", "desktop");
    ASSERT_EQ(relay.publish(phoneA, utterance("u1", "只给 A", true)).status, 200);

    const Reply b = relay.events(desktopB, -1);
    ASSERT_EQ(b.status, 200);
    EXPECT_EQ(b.body, json({{"events", json::array()}, {"cursor", 0}}));
    EXPECT_THAT(relay.events(desktopA, -1).body["events"], SizeIs(1));
}

TEST(RelayEvents, CarryTheDesktopsEventFormWithSeqAndTimeFromTheRelay)
{
    RelayHarness relay(RelayHarness::withHold(0ms));
    const std::string desktop = relay.signIn("13800138000", "desktop");
    const std::string phone = relay.signIn("13800138000", "phone");

    const Reply published = relay.publish(phone, utterance("u1", "你好", false));
    ASSERT_EQ(published.status, 200) << published.raw;
    EXPECT_EQ(published.body, json({{"seq", 1}, {"at", RelayHarness::startTime}, {"cursor", 1}}));
    relay.advance(250);
    relay.publish(phone, {{"utterance", "u1"}, {"text", "你好世界"}, {"final", true}, {"session", "s-1"},
                          {"at", 5}, {"seq", 99}, {"extra", "ignored"}});
    relay.publish(phone, {{"type", "session_end"}, {"session", "s-1"}, {"utterance", nullptr}});

    const Reply batch = relay.events(desktop, -1);
    ASSERT_EQ(batch.status, 200);
    EXPECT_EQ(batch.body["cursor"], 3);
    const json expected = json::array({
        {{"utterance", "u1"}, {"text", "你好"}, {"final", false}, {"session", "s-1"}, {"seq", 1}, {"at", RelayHarness::startTime}},
        {{"utterance", "u1"}, {"text", "你好世界"}, {"final", true}, {"session", "s-1"}, {"seq", 2}, {"at", RelayHarness::startTime + 250}},
        {{"type", "session_end"}, {"final", false}, {"session", "s-1"}, {"seq", 3}, {"at", RelayHarness::startTime + 250}},
    });
    EXPECT_EQ(batch.body["events"], expected);
}

TEST(RelayEvents, CursorSemantics)
{
    RelayOptions options = RelayHarness::withHold(0ms);
    options.limits.eventsPerAccount = 5;
    options.limits.eventsPerReply = 3;
    RelayHarness relay(options);
    const std::string desktop = relay.signIn("13800138000", "desktop");
    const std::string phone = relay.signIn("13800138000", "phone");

    EXPECT_EQ(relay.events(desktop, -1).body["cursor"], 0) << "nothing yet";
    for (int i = 1; i <= 7; ++i)
        relay.publish(phone, utterance("u" + std::to_string(i), "t"));
    const auto seqs = [](const Reply& reply) {
        std::vector<int> out;
        for (const auto& event : reply.body["events"])
            out.push_back(event["seq"]);
        return out;
    };

    // Only the newest five are kept; after=-1 reads from the oldest kept, at most three at a time.
    const Reply fromStart = relay.events(desktop, -1);
    EXPECT_THAT(seqs(fromStart), testing::ElementsAre(3, 4, 5));
    EXPECT_EQ(fromStart.body["cursor"], 5);
    EXPECT_THAT(seqs(relay.events(desktop, 5)), testing::ElementsAre(6, 7));
    EXPECT_THAT(seqs(relay.events(desktop, 1)), testing::ElementsAre(3, 4, 5)) << "cursor older than what is kept";
    EXPECT_THAT(seqs(relay.events(desktop, 6)), testing::ElementsAre(7));

    const Reply caughtUp = relay.events(desktop, 7);
    EXPECT_THAT(seqs(caughtUp), testing::IsEmpty());
    EXPECT_EQ(caughtUp.body["cursor"], 7);
    // A cursor this relay never gave out (a relay restarted under the desktop) reads from the start.
    EXPECT_THAT(seqs(relay.events(desktop, 57)), testing::ElementsAre(3, 4, 5));

    for (const char* bad : {"abc", "-2", "1.5", "", "99999999999999999999", "5x"})
        expectRefusal(relay.get(std::string("/v1/events?after=") + bad, desktop), 400, "invalid_cursor");
}

TEST(RelayEvents, AHeldRequestIsAnsweredAsSoonAsAnEventArrives)
{
    RelayHarness relay(RelayHarness::withHold(20s));
    const std::string desktop = relay.signIn("13800138000", "desktop");
    const std::string phone = relay.signIn("13800138000", "phone");

    const auto started = std::chrono::steady_clock::now();
    auto poll = std::async(std::launch::async, [&] { return relay.events(desktop, 0); });
    ASSERT_TRUE(relay.relay.waitForHeldPolls(1, 5s));
    ASSERT_EQ(poll.wait_for(0s), std::future_status::timeout);
    relay.publish(phone, utterance("u1", "醒来"));
    ASSERT_EQ(poll.wait_for(5s), std::future_status::ready);
    const Reply reply = poll.get();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    ASSERT_EQ(reply.status, 200);
    ASSERT_THAT(reply.body["events"], SizeIs(1));
    EXPECT_EQ(reply.body["events"][0]["text"], "醒来");
    EXPECT_EQ(reply.body["cursor"], 1);
}

TEST(RelayEvents, AHeldRequestWithNothingNewEndsWithAnEmptyBatchAfterTheHold)
{
    RelayHarness relay(RelayHarness::withHold(400ms));
    const std::string desktop = relay.signIn("13800138000", "desktop");
    const std::string phone = relay.signIn("13800138000", "phone");
    relay.publish(phone, utterance("u1", "旧的"));

    const auto started = std::chrono::steady_clock::now();
    const Reply reply = relay.events(desktop, 1);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(reply.body, json({{"events", json::array()}, {"cursor", 1}}));
    EXPECT_GE(took, 400ms);
    EXPECT_LT(took, 5s);
}

TEST(RelayEvents, StoppingAnswersHeldRequests)
{
    auto relay = std::make_unique<RelayHarness>(RelayHarness::withHold(20s));
    const std::string desktop = relay->signIn("13800138000", "desktop");
    auto poll = std::async(std::launch::async, [&] { return relay->events(desktop, 0); });
    ASSERT_TRUE(relay->relay.waitForHeldPolls(1, 5s));
    const auto started = std::chrono::steady_clock::now();
    relay->server.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    ASSERT_EQ(poll.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(poll.get().body, json({{"events", json::array()}, {"cursor", 0}}));
}

TEST(RelayEvents, PublishedEventsAreChecked)
{
    RelayHarness relay(RelayHarness::withHold(0ms));
    const std::string phone = relay.signIn("13800138000", "phone");
    expectRefusal(relay.publish(phone, json::object()), 400, "invalid_event");
    expectRefusal(relay.publish(phone, {{"utterance", "u"}}), 400, "invalid_event");
    expectRefusal(relay.publish(phone, {{"utterance", "u"}, {"text", 5}}), 400, "invalid_event");
    expectRefusal(relay.publish(phone, {{"utterance", "u"}, {"text", "x"}, {"final", "yes"}}), 400, "invalid_event");
    expectRefusal(relay.publish(phone, {{"utterance", "u"}, {"text", std::string(4001, 'x')}}), 413, "too_large");
    expectRefusal(relay.publish(phone, {{"type", std::string(65, 't')}}), 413, "too_large");
    EXPECT_EQ(relay.publish(phone, {{"utterance", "u"}, {"text", std::string(4000, 'x')}}).status, 200);
}

TEST(RelayRequests, MalformedOrOversizedBodiesGetAnErrorBody)
{
    RelayHarness relay(RelayHarness::withHold(0ms));
    const std::string phone = relay.signIn("13800138000", "phone");
    for (const char* body : {"", "{", "[1,2]", "\"phone\"", "null", "{\"phone\": \"1380013800\xff\"}"})
        expectRefusal(relay.postRaw("/v1/auth/phone/request", body), 400, "invalid_json");
    expectRefusal(relay.postRaw("/v1/events", "{\"text\": \"\xc3\x28\"}", phone), 400, "invalid_json");

    const std::string big = json({{"phone", std::string(20000, '1')}}).dump();
    expectRefusal(relay.postRaw("/v1/auth/phone/request", big), 413, "too_large");
    expectRefusal(relay.postRaw("/v1/events", big, phone), 413, "too_large");

    // A chunked body announces no length; it is cut off at the limit all the same.
    httplib::Client client("127.0.0.1", relay.port);
    const std::string chunk(8000, 'a');
    int sent = 0;
    const auto result = client.Post(
        "/v1/auth/phone/request",
        [&](size_t, httplib::DataSink& sink) {
            if (sent++ < 10)
                sink.write(chunk.data(), chunk.size());
            else
                sink.done();
            return true;
        },
        "application/json");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 413);
    EXPECT_EQ(json::parse(result->body, nullptr, false).value("error", ""), "too_large");

    // The relay is still there.
    EXPECT_EQ(relay.post("/v1/auth/phone/request", {{"phone", "13900139000"}}).status, 200);
}

TEST(RelayRequests, UnknownPathsAndMethodsGetAnErrorBody)
{
    RelayHarness relay(RelayHarness::withHold(0ms));
    expectRefusal(relay.get("/v1/nothing"), 404, "not_found");
    expectRefusal(relay.post("/v1/nothing", json::object()), 404, "not_found");
    httplib::Client client("127.0.0.1", relay.port);
    const auto result = client.Put("/v1/events", "{}", "application/json");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 405);
    EXPECT_EQ(json::parse(result->body, nullptr, false).value("error", ""), "method_not_allowed");
}
