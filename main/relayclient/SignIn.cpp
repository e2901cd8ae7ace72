#include "relayclient/SignIn.h"

#include "model/AppShell.h"
#include "model/Defaults.h"
#include "model/DesktopState.h"
#include "model/SecretStore.h"
#include "relayclient/RelayClient.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace tellwire {

namespace {

const QString kEndpointKey = QStringLiteral("endpoint");

// The whole text must match, not a prefix before a trailing line break.
bool matchesWhole(const QRegularExpression& pattern, const QString& text)
{
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() && match.capturedLength() == text.size();
}

} // namespace

SignIn::SignIn(RelayClient& client, QObject* parent)
    : QObject(parent)
    , client_(client)
{
    localRetry_.setSingleShot(true);
    connect(&localRetry_, &QTimer::timeout, this, &SignIn::signInLocally);
}

bool SignIn::isLocal() const
{
    const QString host = QUrl(client_.state().base()).host();
    const bool loopback =
        host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost") || host == QLatin1String("::1");
    return loopback && QFile::exists(localSecretPath());
}

QString SignIn::localSecretPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.startsWith(u'/'))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/tellwire-relay/local-secret");
}

void SignIn::signInAgain()
{
    if (isLocal())
        signInLocally();
}

void SignIn::signInLocally()
{
    DesktopState& state = client_.state();
    QFile file(localSecretPath());
    const QByteArray secret = file.open(QIODevice::ReadOnly) ? file.read(256).trimmed() : QByteArray();
    const auto retry = [this, &state] {
        // The relay may start after us at login: wait for it, quietly.
        state.setStatus(QStringLiteral("正在等待本机中继"));
        localRetry_.start(client_.retryPause());
    };
    if (secret.isEmpty())
        return retry();
    const QJsonObject body{{QStringLiteral("secret"), QString::fromLatin1(secret)},
                           {QStringLiteral("device_id"), state.deviceID()}};
    client_.api().object(QStringLiteral("/v1/auth/local"), body, this,
                         [this, retry](const std::optional<APIError>& error, const QJsonObject& reply) {
                             const QString token = reply.value(QLatin1String("token")).toString();
                             if (error || token.isEmpty())
                                 return retry();
                             keep(token, QStringLiteral("已登录本机中继，扫描二维码即可连接手机"));
                         });
}

void SignIn::keep(const QString& token, const QString& signedIn)
{
    DesktopState& state = client_.state();
    state.setToken(token);
    if (!state.secrets().save(DesktopState::kTokenAccount, state.token())) {
        state.setError(QStringLiteral("无法保存登录状态到钥匙串"));
        return;
    }
    state.setError(QString());
    state.setStatus(signedIn);
    client_.connect();
}

void SignIn::showSettings()
{
    if (AppShell* shell = client_.state().shell())
        shell->showSettings();
}

void SignIn::prepare()
{
    DesktopState& state = client_.state();
    if (!state.hasToken()) {
        isLocal() ? signInLocally() : showSettings();
        return;
    }
    client_.api().object(QStringLiteral("/v1/me"), std::nullopt, this,
                         [this, &state, checked = state.token()](const std::optional<APIError>& error,
                                                                 const QJsonObject&) {
                             // A sign-in made while the check was under way has
                             // replaced the token checked: its outcome no longer applies.
                             if (state.token() != checked)
                                 return;
                             // Offline or a relay that is down keeps the sign-in: the poller retries.
                             if (!error || !error->refusesToken()) {
                                 client_.connect();
                                 return;
                             }
                             client_.forgetToken();
                             if (isLocal())
                                 return signInLocally();
                             state.setError(QStringLiteral("登录已失效，请重新验证手机号"));
                             showSettings();
                         });
}

void SignIn::requestPhoneCode(const QString& phone)
{
    DesktopState& state = client_.state();
    static const QRegularExpression pattern(QStringLiteral("^(?:\\+?86)?1[3-9][0-9]{9}$"));
    if (!matchesWhole(pattern, phone)) {
        state.setError(QStringLiteral("请输入正确的中国大陆手机号"));
        return;
    }
    state.defaults().setString(kEndpointKey, state.base());
    client_.api().object(QStringLiteral("/v1/auth/phone/request"), QJsonObject{{QStringLiteral("phone"), phone}},
                         this, [&state](const std::optional<APIError>& error, const QJsonObject&) {
                             if (error)
                                 state.setError(error->errorDescription());
                             else
                                 state.setStatus(QStringLiteral("短信请求已提交，验证码 5 分钟内有效"));
                         });
}

void SignIn::login(const QString& phone, const QString& code)
{
    DesktopState& state = client_.state();
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{6}$"));
    if (!matchesWhole(pattern, code)) {
        state.setError(QStringLiteral("请输入 6 位验证码"));
        return;
    }
    state.defaults().setString(kEndpointKey, state.base());
    const QJsonObject body{
        {QStringLiteral("phone"), phone},
        {QStringLiteral("code"), code},
        {QStringLiteral("role"), QStringLiteral("desktop")},
        {QStringLiteral("device_id"), state.deviceID()},
    };
    client_.api().object(QStringLiteral("/v1/auth/phone/verify"), body, this,
                         [this, &state](const std::optional<APIError>& error, const QJsonObject& reply) {
                             if (error) {
                                 state.setError(error->errorDescription());
                                 return;
                             }
                             const QJsonValue token = reply.value(QLatin1String("token"));
                             if (!token.isString() || token.toString().isEmpty()) {
                                 state.setError(QStringLiteral("登录响应缺少令牌"));
                                 return;
                             }
                             keep(token.toString(), QStringLiteral("手机号登录成功，此电脑已绑定账号"));
                         });
}

} // namespace tellwire
