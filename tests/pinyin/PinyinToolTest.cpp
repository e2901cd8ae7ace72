#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;

TEST(PinyinToolTest, AnswersEachQueryOnItsOwnLineOrSaysWhyNot)
{
    QTemporaryDir dir;
    QFile small(dir.filePath(u"small.dict.yaml"_s));
    ASSERT_TRUE(small.open(QFile::WriteOnly) && small.write("...\n泥\tni\t1\n你\tni\t9\n好\thao\t5\n") && small.flush());
    const QString missing = dir.filePath(u"missing"_s), why = u"tellwire-pinyin: dictionary %1 is not usable: %2\n"_s;
    const struct { QStringList arguments; QByteArray queries; QString printed; } cases[] = { // exit code, then output
        {{u"--dict"_s, small.fileName()}, "ni\nzzz\n\nni'hao\r\nhao\nnihao", u"0 你\t泥\n\n\n你好\n好\n你好\n"_s},
        {{}, "nihao\nzhong'guo\n", u"0 你好\n中国\n"_s}, // the program's own dictionary
        {{u"--dict="_s + missing}, "ni\n", u"1 "_s + why.arg(missing, u"file not found"_s)},
        {{u"--dict"_s, dir.path()}, "ni\n", u"1 "_s + why.arg(dir.path(), u"file cannot be read"_s)},
    };
    for (const auto& c : cases) {
        QProcess tool;
        tool.start(QStringLiteral(TELLWIRE_PINYIN_TOOL), c.arguments);
        tool.write(c.queries);
        tool.closeWriteChannel();
        ASSERT_TRUE(tool.waitForFinished(30'000));
        const QByteArray out = tool.readAllStandardOutput() + tool.readAllStandardError();
        EXPECT_EQ(QString::number(tool.exitCode()).toStdString() + ' ' + out.toStdString(), c.printed.toStdString());
    }
}

} // namespace
