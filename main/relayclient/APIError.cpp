#include "relayclient/APIError.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tellwire {

namespace {

// The relay's own text: "message", else "error", when they are strings.
QString serverText(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return {};
    const QJsonObject object = document.object();
    for (const char* key : {"message", "error"}) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isString())
            return value.toString();
    }
    return {};
}

} // namespace

APIError APIError::fromReply(qint64 status, const QByteArray& body)
{
    const QString text = serverText(body);
    QString message;
    if (text == QLatin1String("sms_unavailable"))
        message = QStringLiteral("短信暂时无法发送，请稍后重试");
    else if (text == QLatin1String("invalid_phone"))
        message = QStringLiteral("请输入正确的中国大陆手机号");
    else if (text == QLatin1String("phone_not_configured"))
        message = QStringLiteral("短信登录服务尚未配置");
    else if (status == 401)
        message = QStringLiteral("验证码错误、已过期或登录已失效");
    else if (status == 429)
        message = QStringLiteral("操作过于频繁，请稍后重试");
    else if (text.isEmpty())
        message = QStringLiteral("连接失败，请检查网络后重试");
    else
        message = text;
    return {message, status, Source::Relay};
}

} // namespace tellwire
