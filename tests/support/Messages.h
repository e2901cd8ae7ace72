#pragma once

// What users read, as the tests expect it: a changed text fails the tests that
// show it, and is changed here once.

namespace tellwire::testing::msg {

// Status of the relay connection.
inline constexpr const char* kNotConnected = "未连接手机";
inline constexpr const char* kConnected = "已连接服务器";
inline constexpr const char* kReceiving = "正在接收手机文字";
inline constexpr const char* kReconnecting = "连接中断，正在重连";
inline constexpr const char* kCodeRequested = "短信请求已提交，验证码 5 分钟内有效";
inline constexpr const char* kSignedIn = "手机号登录成功，此电脑已绑定账号";

// Errors of the relay client and sign-in.
inline constexpr const char* kBadPhone = "请输入正确的中国大陆手机号";
inline constexpr const char* kBadCode = "请输入 6 位验证码";
inline constexpr const char* kSignInExpired = "登录已失效，请重新验证手机号";
inline constexpr const char* kTokenRefused = "登录已失效，请重新登录";
inline constexpr const char* kNoToken = "登录响应缺少令牌";
inline constexpr const char* kTokenNotSaved = "无法保存登录状态到钥匙串";
inline constexpr const char* kWrongCode = "验证码错误、已过期或登录已失效";
inline constexpr const char* kTooFrequent = "操作过于频繁，请稍后重试";
inline constexpr const char* kSmsUnavailable = "短信暂时无法发送，请稍后重试";
inline constexpr const char* kSmsNotConfigured = "短信登录服务尚未配置";
inline constexpr const char* kNetworkFailed = "连接失败，请检查网络后重试";
inline constexpr const char* kTimedOut = "请求超时，请检查网络后重试";
inline constexpr const char* kTooLarge = "服务器响应过大";
inline constexpr const char* kBadFormat = "响应格式错误";
inline constexpr const char* kNeedsHttps = "请使用 HTTPS 服务地址；本机调试可使用 localhost";
inline constexpr const char* kDictionaryMissing = "拼音词库缺失，请重新安装完整客户端";

// TellwireRegister and TellwireDesktop.
inline constexpr const char* kRegistered = "已注册并启用语音输入。";
inline constexpr const char* kNotDiscovered = "输入源已注册，但系统尚未发现它。请退出登录后重试。";
inline constexpr const char* kNeedsRoot = "输入源注册需要 root 权限：请先用 sudo 运行一次，再以当前用户重新运行。";
inline constexpr const char* kRegisterFailed = "输入源注册失败：";
inline constexpr const char* kEnableFailed = "输入源启用失败：";
inline constexpr const char* kUsage = "用法：TellwireRegister /完整路径/tellwire.xml";
inline constexpr const char* kComponentMissing = "未找到输入法：";
inline constexpr const char* kNotInstalled = "语音输入组件未安装";
inline constexpr const char* kReinstall = "请重新运行 Tellwire 安装包。";
inline constexpr const char* kCannotStart = "无法启动语音输入";

// The development tools' consoles (tellwire-relay, tellwire-phone): the part
// of a line that says what went wrong.
inline constexpr const char* kRelayCannotListen = "cannot listen on 127.0.0.1:";
inline constexpr const char* kPhoneTlsCheck = "failed the TLS check";

} // namespace tellwire::testing::msg
