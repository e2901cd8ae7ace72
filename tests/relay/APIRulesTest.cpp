#include "Printers.h"
#include "relay/API.h"

#include <gtest/gtest.h>

namespace tellwire {
namespace {

const QString kRefused = QStringLiteral("请使用 HTTPS 服务地址；本机调试可使用 localhost");

QString address(const QString& base, const QString& path = QStringLiteral("/v1/me"))
{
    APIError error;
    const auto url = API(base, {}).url(path, &error);
    return url ? url->toString() : QStringLiteral("refused: ") + error.message;
}

TEST(APIUrlTest, HttpsAnywherePlainHttpOnlyToThisMachine)
{
    const std::pair<const char*, const char*> accepted[] = {
        {"https://relay.example.com", "https://relay.example.com/v1/me"},
        {"https://relay.example.com///", "https://relay.example.com/v1/me"},
        {"https://relay.example.com/api/", "https://relay.example.com/api/v1/me"},
        {"http://localhost:8080", "http://localhost:8080/v1/me"},
        {"http://localhost", "http://localhost/v1/me"},
        {"http://127.0.0.1:1", "http://127.0.0.1:1/v1/me"},
    };
    for (const auto& [base, url] : accepted)
        EXPECT_EQ(address(QString::fromLatin1(base)), QString::fromLatin1(url));
    EXPECT_EQ(address(QStringLiteral("https://relay.example.com:8443"), QStringLiteral("/v1/events?after=-1")),
              QStringLiteral("https://relay.example.com:8443/v1/events?after=-1"));

    for (const char* base : {"http://192.168.1.20:8080", "http://relay.example.com", "http://127.0.0.1.example.com",
                             "http://localhost@evil.example.com", "ftp://localhost", "relay.example.com",
                             "localhost:8080", "https://", "", "https://relay example.com"})
        EXPECT_EQ(address(QString::fromLatin1(base)), QStringLiteral("refused: ") + kRefused) << base;

    APIError error{QStringLiteral("before"), 7};
    EXPECT_FALSE(API(QStringLiteral("relay.example.com"), {}).url(QStringLiteral("/v1/me"), &error));
    EXPECT_EQ(error, (APIError{kRefused, 0, APIError::Source::Relay}));
}

struct Mapping {
    int status;
    const char* body;
    const char* message;
};

TEST(APIErrorTest, RepliesMapToSentencesInTableOrder)
{
    const Mapping cases[] = {
        {400, R"({"error":"invalid_phone"})", "请输入正确的中国大陆手机号"},
        {400, R"({"error":"invalid_phone","message":"号码不对"})", "号码不对"},
        {429, R"({"error":"sms_unavailable"})", "短信暂时无法发送，请稍后重试"},
        {503, R"({"message":"phone_not_configured","error":"x"})", "短信登录服务尚未配置"},
        {400, R"({"error":"SMS_UNAVAILABLE"})", "SMS_UNAVAILABLE"},
        {401, R"({"message":"token expired"})", "验证码错误、已过期或登录已失效"},
        {401, "", "验证码错误、已过期或登录已失效"},
        {429, R"({"message":"slow down"})", "操作过于频繁，请稍后重试"},
        {503, "<html><body>Service Unavailable</body></html>", "连接失败，请检查网络后重试"},
        {500, R"({"message":"服务器维护中"})", "服务器维护中"},
        {500, R"({"message":5,"error":"disk_full"})", "disk_full"},
        {500, R"({"message":null,"error":{}})", "连接失败，请检查网络后重试"},
        {500, R"(["message","oops"])", "连接失败，请检查网络后重试"},
        {404, R"({"message":""})", "连接失败，请检查网络后重试"},
        {0, R"({"message":"no status"})", "no status"},
    };
    for (const Mapping& c : cases) {
        const APIError error = APIError::fromReply(c.status, QByteArray(c.body));
        EXPECT_EQ(error.message, QString::fromUtf8(c.message)) << c.status << " " << c.body;
        EXPECT_EQ(error.status, c.status);
        EXPECT_EQ(error.errorDescription(), error.message);
    }
}

} // namespace
} // namespace tellwire
