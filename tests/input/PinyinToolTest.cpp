#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun runTool(const QStringList& arguments, const QByteArray& input)
{
    QProcess tool;
    tool.start(QStringLiteral(TELLWIRE_PINYIN_TOOL), arguments);
    tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(30'000))
        tool.kill();
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1, tool.readAllStandardOutput(),
            tool.readAllStandardError()};
}

QString writeDictionary(const QTemporaryDir& dir, const QByteArray& text)
{
    const QString path = dir.filePath(QStringLiteral("small.dict.yaml"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

TEST(PinyinToolTest, AnswersEachQueryOnItsOwnLine)
{
    QTemporaryDir dir;
    const QString path = writeDictionary(dir, "...\n泥\tni\t1\n你\tni\t9\n好\thao\t5\n哈\tha\t1\n哦\to\t1\n");
    const ToolRun run = runTool({QStringLiteral("--dict"), path}, "ni\nzzz\n\nni'hao\r\nhao\nnihao");
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(QString::fromUtf8(run.out), QStringLiteral("你\t泥\n\n\n你哈哦\n好\n你哈哦\n"));
    EXPECT_TRUE(run.err.isEmpty());

    // Without --dict: the program's own resource.
    const ToolRun installed = runTool({}, "nihao\n");
    EXPECT_EQ(installed.exitCode, 0) << installed.err.constData();
    EXPECT_TRUE(installed.out.startsWith("你好")) << installed.out.constData();
}

TEST(PinyinToolTest, BadArgumentsAndUnusableDictionariesFailWithALine)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.dict.yaml"));
    const struct {
        QStringList arguments;
        int exitCode;
        QByteArrayList says;
    } cases[] = {
        {{QStringLiteral("--dict"), missing}, 1, {missing.toUtf8(), "not found"}},
        {{QStringLiteral("--dict"), writeDictionary(dir, "你\tni\t1\n")}, 1, {"no entries"}},
        {{QStringLiteral("--frobnicate")}, 2, {"usage"}},
    };
    for (const auto& c : cases) {
        const ToolRun run = runTool(c.arguments, "ni\n");
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.constData();
        EXPECT_TRUE(run.out.isEmpty());
        for (const QByteArray& said : c.says)
            EXPECT_TRUE(run.err.contains(said)) << run.err.constData();
    }
}

} // namespace
