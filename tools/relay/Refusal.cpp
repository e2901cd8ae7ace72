#include "Refusal.h"

namespace tellwire {

Refusal Refusal::invalidPhone()
{
    return {400, "invalid_phone", "请输入正确的中国大陆手机号"};
}

Refusal Refusal::invalidCode()
{
    return {401, "invalid_code", "验证码错误、已过期或已使用"};
}

Refusal Refusal::rateLimited()
{
    return {429, "rate_limited", "操作过于频繁，请稍后重试"};
}

Refusal Refusal::unauthorized()
{
    return {401, "unauthorized", "登录已失效，请重新验证手机号"};
}

Refusal Refusal::forbidden()
{
    return {403, "forbidden", "此登录身份不能执行这个操作"};
}

Refusal Refusal::invalidRequest(std::string message)
{
    return {400, "invalid_request", std::move(message)};
}

Refusal Refusal::invalidJson()
{
    return {400, "invalid_json", "请求内容不是有效的 JSON 对象"};
}

Refusal Refusal::tooLarge()
{
    return {413, "too_large", "请求内容过大"};
}

Refusal Refusal::notFound()
{
    return {404, "not_found", "没有这个接口"};
}

Refusal Refusal::methodNotAllowed()
{
    return {405, "method_not_allowed", "不支持这个请求方法"};
}

Refusal Refusal::internal()
{
    return {500, "internal", "本地中继内部错误"};
}

Refusal Refusal::forStatus(int status)
{
    switch (status) {
    case 401: return unauthorized();
    case 403: return forbidden();
    case 404: return notFound();
    case 405: return methodNotAllowed();
    case 413: return tooLarge();
    case 429: return rateLimited();
    default: break;
    }
    if (status >= 500)
        return {status, "internal", internal().message};
    return {status, "invalid_request", "请求格式错误"};
}

} // namespace tellwire
