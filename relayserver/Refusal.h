#pragma once

#include <string>
#include <utility>
#include <variant>

namespace tellwire {

// A request the relay turns down: the HTTP status and the {"error", "message"}
// body. The message is what the desktop shows its user, hence Chinese.
struct Refusal {
    int status = 400;
    std::string error;
    std::string message;

    static Refusal invalidPhone() { return {400, "invalid_phone", "请输入正确的中国大陆手机号"}; }
    static Refusal invalidCode() { return {401, "invalid_code", "验证码错误、已过期或已使用"}; }
    static Refusal rateLimited() { return {429, "rate_limited", "操作过于频繁，请稍后重试"}; }
    static Refusal unauthorized() { return {401, "unauthorized", "登录已失效，请重新验证手机号"}; }
    static Refusal forbidden() { return {403, "forbidden", "此登录身份不能执行这个操作"}; }
    static Refusal invalidRequest(std::string message) { return {400, "invalid_request", std::move(message)}; }
    static Refusal invalidJson() { return {400, "invalid_json", "请求内容不是有效的 JSON 对象"}; }
    static Refusal tooLarge() { return {413, "too_large", "请求内容过大"}; }
    static Refusal notFound() { return {404, "not_found", "没有这个接口"}; }
    static Refusal methodNotAllowed() { return {405, "method_not_allowed", "不支持这个请求方法"}; }
    static Refusal internal() { return {500, "internal", "本地中继内部错误"}; }
    static Refusal busy() { return {503, "busy", "本地中继正忙，请稍后重试"}; }
    static Refusal unavailable() { return {503, "unavailable", "中继暂时无法使用，请稍后重试"}; }

    // The refusal a bare status stands for, when the HTTP layer produced it.
    static Refusal forStatus(int status);

    friend bool operator==(const Refusal&, const Refusal&) = default;
};

// The result of a relay operation: its value, or why it was refused.
template <typename T>
using Outcome = std::variant<T, Refusal>;

} // namespace tellwire
