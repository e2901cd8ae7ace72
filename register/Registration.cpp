#include "Registration.h"

#include "InputSources.h"

#include <QFileInfo>

namespace tellwire {

namespace {

Registration::Outcome fail(const QString& message, int code = 1)
{
    return {code, message, Registration::Outcome::StandardError};
}

} // namespace

Registration::Registration(InputSources& sources, Pause pause)
    : sources_(sources)
    , pause_(std::move(pause))
{
}

Registration::Outcome Registration::run(const QStringList& arguments)
{
    if (arguments.size() != 1)
        return fail(QStringLiteral("用法：TellwireRegister /完整路径/tellwire.xml"));

    const QString path = arguments.first();
    if (!QFileInfo::exists(path))
        return fail(QStringLiteral("未找到输入法：") + path);

    const int status = sources_.registerComponent(QFileInfo(path).absoluteFilePath());
    if (status == InputSources::kRootRequired)
        return fail(QStringLiteral("输入源注册需要 root 权限：请先用 sudo 运行一次，再以当前用户重新运行。"), status);
    if (status != 0)
        return fail(QStringLiteral("输入源注册失败：") + QString::number(status), status);

    if (!searchEngine())
        return fail(QStringLiteral("输入源已注册，但系统尚未发现它。请退出登录后重试。"));

    const int enableStatus = sources_.enable(kEngine);
    if (enableStatus != 0)
        return fail(QStringLiteral("输入源启用失败：") + QString::number(enableStatus), enableStatus);

    return {0, QStringLiteral("已注册并启用语音输入。"), Outcome::StandardOutput};
}

bool Registration::searchEngine()
{
    for (int attempt = 0; attempt < kSearches; ++attempt) {
        if (sources_.lists(kEngine))
            return true;
        pause_(kSearchPause);
    }
    return false;
}

} // namespace tellwire
