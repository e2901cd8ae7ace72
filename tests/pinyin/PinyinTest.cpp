#include "pinyin/DictionaryFile.h"
#include "pinyin/Pinyin.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tellwire {
namespace {

using namespace Qt::StringLiterals;
using Status = DictionaryFile::Status;
const QByteArray kHeader = "# Rime dictionary\n---\nname: test\nsort: by_weight\n...\n";

TEST(DictionaryFileTest, RowsComeAfterTheMarkerLineAndUnusableBytesSayWhy)
{
    const struct { QByteArray bytes; Status status; const char* rows = ""; } cases[] = {
        // Comments and lines of under two fields are skipped; tab runs separate once; only codes lose spaces.
        {"头\ttou\t1\n---\n....\n...\n# 注\tzhu\t1\n\t\t\t\n\n孤\n\t左\t\t\tzuo\t\t4\tx\n...\n 空格\t ge\t2\n你好\tni hao\n",
         Status::Loaded, "左|zuo|4| 空格|ge|2|你好|nihao|0"},
        {"\xEF\xBB\xBF...\n你\tni\t1\n", Status::Loaded, "你|ni|1"}, // a byte-order mark is not text
        {"你\tni\t1\n", Status::NoEntries}, {kHeader, Status::NoEntries},
        {"---\r\n...\r\n你\tni\t1\r\n", Status::NoEntries}, // with CR LF no line is the marker
        // Overlong, a surrogate, beyond U+10FFFF, cut short, never UTF-8.
        {kHeader + "你\tni\t1\n\xC0\xAF\tbad\t1\n", Status::NotUtf8}, {kHeader + "字\t\xED\xA0\x80\n", Status::NotUtf8},
        {kHeader + "字\t\xF4\x90\x80\x80\n", Status::NotUtf8}, {kHeader + "字\t\xE4\xBD\n", Status::NotUtf8},
        {kHeader + "字\t\xFF\n", Status::NotUtf8}};
    for (const auto& c : cases) {
        const DictionaryFile file = DictionaryFile::parse(c.bytes);
        const auto text = [&](auto s) { return QString::fromUtf8(file.bytes().sliced(s.offset, s.length)); };
        QStringList rows;
        for (const DictionaryFile::Row& row : file.rows())
            rows << text(row.word) << text(row.code) << QString::number(row.weight);
        EXPECT_EQ(file.status(), c.status) << c.bytes.toHex().constData();
        EXPECT_EQ(rows.join(u'|').toStdString(), c.rows);
        EXPECT_EQ(Pinyin::fromBytes(c.bytes).status(), c.status);
    }
}

TEST(DictionaryFileTest, WeightsAreNumbersOrElseZero)
{
    // Never NaN, so that weights stay ordered; out of range as strtod has it.
    const double inf = qInf();
    const struct { const char* text; double weight; } cases[] = {
        {"12", 12}, {"+5", 5}, {"-3", -3}, {"2.5e0", 2.5}, {"0x10", 16}, {"-0x1p3", -8}, {"inf", inf}, {"-inf", -inf},
        {"1e400", inf}, {"-1e400", -inf}, {"0x1p99999", inf}, {"1e-400", 0}, {"nan", 0}, {"-nan", 0}, {"5x", 0},
        {"not a number", 0}, {" 9", 0}, {"++5", 0}, {"+-5", 0}, {"0x", 0}, {"", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(DictionaryFile::parse(kHeader + "字\tw\t" + c.text).rows().at(0).weight, c.weight) << c.text;
}

TEST(PinyinTest, QueriesFindTheWordsOfAWholeCodeOrElseOneAssembledSentence)
{
    const QByteArray nihao = "你好\tni hao\t5\n", parts = "泥\tni\t1\n你\tni\t9\n哈\tha\t5\n好\thao\t9\n哦\to\t1\n噢\to\t3\n";
    const QByteArray longCodes = "长\tabcdefghijkl\t1\n更长\tabcdefghijklm\t1\n尾\tz\t1\n";
    const QByteArray acute = "e\xCC\x81", huge(200'000, 'a'); // é as e and a combining accent: two code points
    const struct { QByteArray rows, query, expected; } cases[] = {
        // At most nine, heaviest first, ties in file order.
        {"五\tba\t5\n负\tba\t-3\n他\tta\t9\n十\tba\t10\n零\tba\n甲\tba\t7\n乙\tba\t7\n一\tba\t1\n二\tba\t2\n"
         "三\tba\t3\n四\tba\t4\n", "ba", "十 甲 乙 五 四 三 二 一 零"}, {"你\tni\t2\n你\tni\t1\n", "ni", "你 你"},
        // Apostrophes only separate syllables for the eye; spaces in a query are letters.
        {nihao, "nihao", "你好"}, {nihao, "'n'i'h'a'o'", "你好"}, {nihao, "ni hao", ""},
        {"西安\txi an\t3\n先\txian\t9\n", "xi'an", "先 西安"},
        // Not 你好: "o" ends the sentence at the last letter before "hao" is tried; nothing where codes cannot cover.
        {parts, "nihao", "你哈噢"}, {parts, "haoni", "哈噢你"}, {parts, "nihaov", ""}, {parts, "nh", ""}, {parts, "", ""},
        {"西\txi\t1\n先\txian\t1\n啊\ta\t1\n", "xianxi", "先西"}, // longer pieces where shorter cannot go on
        // Pieces longer than twelve characters are only exact matches.
        {longCodes, "abcdefghijklm", "更长"}, {longCodes, "abcdefghijklz", "长尾"}, {longCodes, "abcdefghijklmz", ""},
        // Characters are counted as a reader sees them: twelve, though 24 code points.
        {"汉\th\xC3\xA0n\t1\n", "h\xC3\xA0'n", "汉"},
        {"长\t" + acute.repeated(12) + "\t1\n尾\tz\t1\n", acute.repeated(12) + "z", "长尾"},
        {"空\t  \t1\n你\tni\t1\n", "'", "空"}, // a code of spaces is the empty code
        // Huge words, lines, codes and queries.
        {QByteArray("长").repeated(1 << 20) + "\tchang\t1\n", "chang", QByteArray("长").repeated(1 << 20)},
        {QByteArray(1 << 20, '\t') + "\n码\t" + huge + "\t1\n", huge, "码"},
        {"啊\ta\t1\n", huge, QByteArray("啊").repeated(huge.size())}, {"啊\ta\t1\n", huge + "b", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(Pinyin::fromBytes(kHeader + c.rows).candidates(QString::fromUtf8(c.query)),
                  QString::fromUtf8(c.expected).split(u' ', Qt::SkipEmptyParts)) << c.query.left(40).constData();
    // Words stand as written, even one that is only a byte-order mark.
    const Pinyin marks = Pinyin::fromBytes(kHeader + "\xEF\xBB\xBF\tbai\t2\n\xEF\xBB\xBF\xE7\x99\xBD\tbai\t1\n");
    EXPECT_EQ(marks.candidates(u"bai"), (QStringList{u"\uFEFF"_s, u"\uFEFF\u767D"_s}));
    EXPECT_EQ(marks.candidates(u"baibai"), QStringList{u"\uFEFF\uFEFF"_s});
}

TEST(PinyinToolTest, AnswersEachQueryOnItsOwnLineOrSaysWhyNot)
{
    QTemporaryDir dir;
    QFile small(dir.filePath(u"small.dict.yaml"_s));
    ASSERT_TRUE(small.open(QFile::WriteOnly) && small.write("...\n泥\tni\t1\n你\tni\t9\n好\thao\t5\n") && small.flush());
    const QString missing = dir.filePath(u"missing"_s), why = u"tellwire-pinyin: dictionary %1 is not usable: %2\n"_s;
    const struct { QStringList arguments; QByteArray queries; QString printed; } cases[] = { // exit code, then output
        {{u"--dict"_s, small.fileName()}, "ni\nzzz\n\nni'hao\r\nhao\nnihao", u"0 你\t泥\n\n\n你好\n好\n你好\n"_s},
        {{}, "nihao\nzhong'guo\n", u"0 你好\n中国\n"_s}, // the keyboard's own dictionary
        {{u"--dict="_s + missing}, "ni\n", u"1 "_s + why.arg(missing, u"file not found"_s)},
        {{u"--dict"_s, dir.path()}, "ni\n", u"1 "_s + why.arg(dir.path(), u"file cannot be read"_s)}};
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
} // namespace tellwire
