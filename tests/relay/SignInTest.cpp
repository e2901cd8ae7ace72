#include "RelayFixture.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace tellwire {
namespace {

using namespace testing;

const QString kCodeSent = QStringLiteral("短信请求已提交，验证码 5 分钟内有效");
const QString kBadPhone = QStringLiteral("请输入正确的中国大陆手机号");
const QString kBadCode = QStringLiteral("请输入 6 位验证码");
const QString kSignedIn = QStringLiteral("手机号登录成功，此电脑已绑定账号");

QJsonObject json(const std::string& text)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

// A secret store that cannot write, like a keyring nobody unlocks.
class RefusingSecretStore final : public SecretStore {
public:
    QString load(const QString&) override { return {}; }
    bool save(const QString&, const QString&) override { return false; }
};

class SignInTest : public RelayFixture {
protected:
    void SetUp() override { makeState(secrets); }
    QString endpoint() const { return defaults.string(QStringLiteral("endpoint")); }
};

TEST_F(SignInTest, CodeIsRequestedForTheNumberAsTyped)
{
    server.on("/v1/auth/phone/request", TestServer::reply(200, "{}"));
    const QStringList numbers{"13800138000", "+8619912345678"};
    for (const QString& phone : numbers) {
        state->setStatus(QString());
        state->requestPhoneCode(phone);
        ASSERT_TRUE(waitUntil([&] { return state->status() == kCodeSent; })) << phone.toStdString();
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(requests[i].method, "POST");
        EXPECT_EQ(requests[i].target, "/v1/auth/phone/request");
        EXPECT_EQ(json(requests[i].body), (QJsonObject{{"phone", numbers[i]}}));
        EXPECT_FALSE(requests[i].hasHeader("Authorization"));
    }
    EXPECT_EQ(endpoint(), server.base());
    EXPECT_EQ(state->error(), QString());
}

TEST_F(SignInTest, MalformedNumbersAndCodesAreRefusedBeforeAnythingIsSent)
{
    for (const char* phone : {"12800138000", "10800138000", "1380013800", "138001380001",
                              "138 0013 8000", "+86 13800138000", "8813800138000", "13800138000\n", "",
                              "１３８００１３８０００"}) {
        state->setError(QString());
        state->requestPhoneCode(QString::fromUtf8(phone));
        EXPECT_EQ(state->error(), kBadPhone) << phone;
    }
    for (const char* code : {"12345", "1234567", "12a456", "", "123456\n", " 123456", "１２３４５６"}) {
        state->setError(QString());
        state->login(QStringLiteral("13800138000"), QString::fromUtf8(code));
        EXPECT_EQ(state->error(), kBadCode) << code;
    }
    barrier();
    EXPECT_EQ(server.requestCount(), 1u); // the barrier alone
    EXPECT_EQ(endpoint(), QString());
}

TEST_F(SignInTest, RefusedCodeRequestShowsTheRelaysReason)
{
    // Each reason's sentence is checked in APIErrorTest.
    server.on("/v1/auth/phone/request", TestServer::reply(429, R"({"message":"too many"})"));
    state->setStatus(QStringLiteral("earlier"));
    state->requestPhoneCode(QStringLiteral("13800138000"));
    ASSERT_TRUE(waitUntil([&] { return !state->error().isEmpty(); }));
    EXPECT_EQ(state->error(), QStringLiteral("操作过于频繁，请稍后重试"));
    EXPECT_EQ(state->status(), QStringLiteral("earlier"));
}

TEST_F(SignInTest, SuccessfulLoginKeepsTheTokenAndStartsPolling)
{
    server.on("/v1/auth/phone/verify", TestServer::reply(200, R"({"token":"new-token","user":{"id":1}})"));
    server.on("/v1/events", server.hold());
    state->login(QStringLiteral("+8613800138000"), QStringLiteral("123456"));
    ASSERT_TRUE(waitUntil([&] { return !targets("/v1/events").empty(); }));

    EXPECT_EQ(state->status(), kSignedIn);
    EXPECT_EQ(state->error(), QString());
    EXPECT_EQ(secrets.load(QStringLiteral("desktop-token")), QStringLiteral("new-token"));
    EXPECT_TRUE(state->isPolling());
    EXPECT_EQ(endpoint(), server.base());

    const auto requests = server.requests();
    EXPECT_EQ(requests[0].target, "/v1/auth/phone/verify");
    EXPECT_EQ(json(requests[0].body), (QJsonObject{{"phone", "+8613800138000"}, {"code", "123456"},
                                                   {"role", "desktop"}, {"device_id", state->deviceID()}}));
    EXPECT_EQ(requests[1].target, "/v1/events?after=-1");
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer new-token");
}

TEST_F(SignInTest, RefusedLoginOrReplyWithoutUsableTokenChangesNothing)
{
    secrets.save(QStringLiteral("desktop-token"), QStringLiteral("old"));
    const std::pair<int, const char*> replies[] = {
        {200, R"({"token":""})"}, {200, R"({"token":5})"}, {200, R"({})"}, {401, R"({"message":"code mismatch"})"},
    };
    for (const auto& [status, body] : replies)
        server.on("/v1/auth/phone/verify", TestServer::reply(status, body));
    for (const auto& [status, body] : replies) {
        state->setError(QString());
        state->login(QStringLiteral("13800138000"), QStringLiteral("123456"));
        ASSERT_TRUE(waitUntil([&] { return !state->error().isEmpty(); })) << body;
        EXPECT_EQ(state->error(), status == 401 ? QStringLiteral("验证码错误、已过期或登录已失效")
                                                : QStringLiteral("登录响应缺少令牌"))
            << body;
    }
    EXPECT_EQ(secrets.load(QStringLiteral("desktop-token")), QStringLiteral("old"));
    EXPECT_FALSE(state->hasToken());
    EXPECT_FALSE(state->isPolling());
    EXPECT_EQ(state->status(), QStringLiteral("未连接手机"));
}

TEST_F(SignInTest, TokenThatCannotBeStoredIsReportedAndDoesNotPoll)
{
    RefusingSecretStore refusing;
    makeState(refusing);
    server.on("/v1/auth/phone/verify", TestServer::reply(200, R"({"token":"kept-in-memory"})"));
    state->login(QStringLiteral("13800138000"), QStringLiteral("123456"));
    ASSERT_TRUE(waitUntil([&] { return !state->error().isEmpty(); }));
    EXPECT_EQ(state->error(), QStringLiteral("无法保存登录状态到钥匙串"));
    EXPECT_EQ(state->token(), QStringLiteral("kept-in-memory"));
    EXPECT_FALSE(state->isPolling());
    EXPECT_NE(state->status(), kSignedIn);
}

TEST_F(SignInTest, LaunchWithoutTokenOpensSettingsWithAnAcceptedOneStartsPolling)
{
    state->prepare();
    EXPECT_EQ(shell.settingsShows, 1);
    barrier();
    EXPECT_EQ(server.requestCount(), 1u); // the barrier alone

    secrets.save(QStringLiteral("desktop-token"), QStringLiteral("good"));
    makeState(secrets);
    server.on("/v1/me", TestServer::reply(200, R"({"phone":"138****8000"})"));
    server.on("/v1/events", server.hold());
    state->prepare();
    ASSERT_TRUE(waitUntil([&] { return !targets("/v1/events").empty(); }));
    EXPECT_EQ(targets("/v1/me").size(), 1u);
    EXPECT_EQ(server.requests().at(1).header("Authorization"), "Bearer good");
    EXPECT_EQ(shell.settingsShows, 1);
    EXPECT_EQ(secrets.load(QStringLiteral("desktop-token")), QStringLiteral("good"));
}

TEST_F(SignInTest, LaunchWithARefusedTokenOrTheRelayDownForgetsTheToken)
{
    server.on("/v1/me", TestServer::reply(401, R"({"error":"unauthorized"})"));
    for (const QString& base : {server.base(), QStringLiteral("http://127.0.0.1:%1").arg(unusedPort())}) {
        secrets.save(QStringLiteral("desktop-token"), QStringLiteral("stored"));
        makeState(secrets);
        state->setBase(base);
        shell.settingsShows = 0;
        state->prepare();
        ASSERT_TRUE(waitUntil([&] { return shell.settingsShows == 1; })) << base.toStdString();
        EXPECT_EQ(state->error(), QStringLiteral("登录已失效，请重新验证手机号"));
        EXPECT_FALSE(state->hasToken());
        EXPECT_EQ(secrets.load(QStringLiteral("desktop-token")), QString());
        EXPECT_FALSE(state->isPolling());
    }
}

TEST_F(SignInTest, LaunchCheckAnsweredAfterANewSignInLeavesItStanding)
{
    secrets.save(QStringLiteral("desktop-token"), QStringLiteral("old"));
    makeState(secrets);
    server.on("/v1/me", server.hold(401, R"({"error":"unauthorized"})"));
    server.on("/v1/auth/phone/verify", TestServer::reply(200, R"({"token":"new"})"));
    server.on("/v1/events", server.hold());
    state->prepare();
    ASSERT_TRUE(waitUntil([&] { return !targets("/v1/me").empty(); }));
    state->login(QStringLiteral("13800138000"), QStringLiteral("123456"));
    ASSERT_TRUE(waitUntil([&] { return state->status() == kSignedIn; }));

    bool checked = false;
    QObject::connect(&API::network(), &QNetworkAccessManager::finished, state.get(),
                     [&](QNetworkReply* reply) { checked = checked || reply->url().path() == "/v1/me"; });
    server.release(); // the old token is refused only now
    ASSERT_TRUE(waitUntil([&] { return checked; }));
    barrier();
    EXPECT_EQ(state->token(), QStringLiteral("new"));
    EXPECT_EQ(secrets.load(QStringLiteral("desktop-token")), QStringLiteral("new"));
    EXPECT_EQ(state->error(), QString());
    EXPECT_EQ(shell.settingsShows, 0);
    EXPECT_TRUE(state->isPolling());
}

} // namespace
} // namespace tellwire
