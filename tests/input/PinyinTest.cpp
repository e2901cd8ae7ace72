#include "input/Pinyin.h"

#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tellwire {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A dictionary file body: the header every real file has, then the entries.
QByteArray withHeader(const QByteArray& entries)
{
    return QByteArrayLiteral("# Rime dictionary\n---\nname: test\nsort: by_weight\n...\n") + entries;
}

Pinyin load(const QByteArray& entries)
{
    return Pinyin::fromBytes(withHeader(entries));
}

QStringList list(std::initializer_list<const char*> words)
{
    QStringList result;
    for (const char* word : words)
        result.append(QString::fromUtf8(word));
    return result;
}

TEST(PinyinTest, WordsOfACodeComeHighestWeightFirstAndEqualWeightsKeepFileOrder)
{
    const Pinyin pinyin = load("五\tba\t5\n"
                               "负\tba\t-3\n"
                               "他\tta\t9\n"
                               "十\tba\t10\n"
                               "零\tba\n"
                               "甲\tba\t7\n"
                               "乙\tba\t7\n"
                               "二\tba\tnot a number\n");
    ASSERT_TRUE(pinyin.ready());
    EXPECT_EQ(pinyin.candidates(u"ba"), list({"十", "甲", "乙", "五", "零", "二", "负"}));
    EXPECT_EQ(pinyin.candidates(u"ta"), list({"他"}));
    EXPECT_EQ(pinyin.codeCount(), 2);
    EXPECT_EQ(pinyin.wordCount(), 8);
}

TEST(PinyinTest, ExactMatchOffersAtMostNineAndKeepsDuplicates)
{
    QByteArray entries;
    for (int i = 1; i <= 12; ++i)
        entries += "词" + QByteArray::number(i) + "\tci\t" + QByteArray::number(100 - i) + "\n";
    entries += "你\tni\t2\n你\tni\t1\n";
    const Pinyin pinyin = load(entries);
    EXPECT_EQ(pinyin.candidates(u"ci"), list({"词1", "词2", "词3", "词4", "词5", "词6", "词7", "词8", "词9"}));
    EXPECT_EQ(pinyin.candidates(u"ni"), list({"你", "你"}));
}

TEST(PinyinTest, QueriesFindAWholeCodeOrElseOneAssembledSentence)
{
    const QByteArray sentence = "泥\tni\t1\n你\tni\t9\n哈\tha\t5\n好\thao\t9\n哦\to\t1\n噢\to\t3\n";
    const QByteArray longCodes = "长\tabcdefghijkl\t1\n更长\tabcdefghijklm\t1\n尾\tz\t1\n";
    // é written as e + combining acute: one character, two code points.
    const QByteArray acute = "e\xCC\x81";
    const struct {
        QByteArray entries;
        QByteArray query;
        QStringList expected;
    } cases[] = {
        // Codes lose their spaces; apostrophes only separate syllables for the eye.
        {"你好\tni hao\t5\n", "nihao", list({"你好"})},
        {"你好\tni hao\t5\n", "'n'i'h'a'o'", list({"你好"})},
        {"西安\txi an\t3\n先\txian\t9\n", "xi'an", list({"先", "西安"})},
        {"你好\tni hao\t5\n", "ni hao", {}}, // spaces in a query are letters
        // Not 你好: "o" ends the sentence at the last letter before "hao" is tried.
        {sentence, "nihao", list({"你哈噢"})},
        {sentence, "haoni", list({"哈噢你"})},
        // Longer pieces serve where shorter ones cannot continue.
        {"西\txi\t1\n先\txian\t1\n啊\ta\t1\n", "xianxi", list({"先西"})},
        // What codes cannot cover finds nothing.
        {sentence, "nihaov", {}},
        {sentence, "nh", {}},
        {sentence, "", {}},
        // Pieces longer than twelve characters are only exact matches.
        {longCodes, "abcdefghijklm", list({"更长"})},
        {longCodes, "abcdefghijklz", list({"长尾"})},
        {longCodes, "abcdefghijklmz", {}},
        // Characters are counted as a reader sees them: twelve, though 24 code points.
        {"汉\th\xC3\xA0n\t1\n", "h\xC3\xA0'n", list({"汉"})},
        {"长\t" + acute.repeated(12) + "\t1\n尾\tz\t1\n", acute.repeated(12) + "z", list({"长尾"})},
        // A code of only spaces is the empty code, which the empty query finds.
        {"空\t  \t1\n你\tni\t1\n", "'", list({"空"})},
    };
    for (const auto& c : cases) {
        const Pinyin pinyin = load(c.entries);
        EXPECT_EQ(pinyin.candidates(QString::fromUtf8(c.query)), c.expected)
            << "\"" << c.query.constData() << "\" in\n" << c.entries.constData();
    }
}

TEST(PinyinTest, OnlyTheBodyAfterTheMarkerLineCounts)
{
    const Pinyin pinyin = Pinyin::fromBytes("头\ttou\t1\n"
                                            "---\n"
                                            "....\n"
                                            "...\n"
                                            "# 注释\tzhu\t1\n"
                                            "\t\t\t\n"
                                            "\n"
                                            "孤\n"
                                            "\t左\t\t\tzuo\t\t4\textra\tfields\t\n"
                                            "...\n"
                                            " 空格\t ge\t2\n");
    ASSERT_TRUE(pinyin.ready());
    EXPECT_THAT(pinyin.candidates(u"tou"), IsEmpty());
    EXPECT_THAT(pinyin.candidates(u"zhu"), IsEmpty());
    EXPECT_EQ(pinyin.candidates(u"zuo"), list({"左"}));
    // Nothing is trimmed: the word keeps its leading space.
    EXPECT_EQ(pinyin.candidates(u"ge"), list({" 空格"}));
    EXPECT_EQ(pinyin.codeCount(), 2);
}

TEST(PinyinTest, UnusableFilesLeaveTheDictionaryNotReady)
{
    const Pinyin noMarker = Pinyin::fromBytes("你\tni\t1\n好\thao\t1\n");
    EXPECT_FALSE(noMarker.ready());
    EXPECT_EQ(noMarker.status(), Pinyin::Status::NoEntries);
    EXPECT_THAT(noMarker.candidates(u"ni"), IsEmpty());

    // With CR LF line ends no line equals the marker.
    EXPECT_FALSE(Pinyin::fromBytes("---\r\n...\r\n你\tni\t1\r\n").ready());
    EXPECT_FALSE(load("").ready());
    EXPECT_FALSE(Pinyin().ready());
    // A byte order mark before the marker is not part of the line.
    EXPECT_TRUE(Pinyin::fromBytes("\xEF\xBB\xBF...\n你\tni\t1\n").ready());

    const Pinyin notUtf8 = load("你\tni\t1\n\xC0\xAF\tbad\t1\n");
    EXPECT_FALSE(notUtf8.ready());
    EXPECT_EQ(notUtf8.status(), Pinyin::Status::NotUtf8);
    EXPECT_THAT(notUtf8.candidates(u"ni"), IsEmpty());
    for (const QByteArray& bytes : {QByteArray("\xED\xA0\x80"), QByteArray("\xF4\x90\x80\x80"),
                                   QByteArray("\xE4\xBD"), QByteArray("\xFF")})
        EXPECT_FALSE(load("字\t" + bytes + "\t1\n").ready()) << bytes.toHex().constData();
}

TEST(PinyinTest, UnusualWeightsStayTotallyOrdered)
{
    // Infinities (also from overflow) rank beyond every finite weight; NaN and
    // text count as 0, like a missing weight; -0 equals 0; underflow is 0.
    const Pinyin pinyin = load("零一\tw\t0\n"
                               "负无穷\tw\t-inf\n"
                               "非数\tw\tnan\n"
                               "无穷\tw\tinf\n"
                               "负零\tw\t-0\n"
                               "溢出\tw\t1e400\n"
                               "小\tw\t1e-400\n"
                               "负溢出\tw\t-1e400\n"
                               "加五\tw\t+5\n"
                               "十六\tw\t0x10\n"
                               "小数\tw\t2.5e0\n"
                               "空格\tw\t 9\n");
    EXPECT_EQ(pinyin.candidates(u"w"), list({"无穷", "溢出", "十六", "加五", "小数", "零一", "非数", "负零", "小"}));

    // Below zero: -1, then the negative infinities in file order (the tenth is cut).
    QByteArray bottom;
    for (const char* weight : {"-1e400", "-inf", "-1", "-0", "0", "1e-400", "nan", "", "x", "-nan"})
        bottom += QByteArray("字") + weight + "\tv\t" + weight + "\n";
    const QStringList order = load(bottom).candidates(u"v");
    EXPECT_EQ(order, list({"字-0", "字0", "字1e-400", "字nan", "字", "字x", "字-nan", "字-1", "字-1e400"}));
}

TEST(PinyinTest, HugeLinesAndQueriesLoadAndAnswer)
{
    const QByteArray longWord = QByteArray("长").repeated(1 << 20);
    const QByteArray tabs(1 << 20, '\t');
    const QByteArray longCode = QByteArray("a").repeated(1 << 16);
    const Pinyin pinyin = load(longWord + "\tchang\t1\n" + tabs + "\n" + "码\t" + longCode + "\t1\n啊\ta\t1\n");
    ASSERT_TRUE(pinyin.ready());
    EXPECT_EQ(pinyin.candidates(u"chang").value(0).size(), longWord.size() / 3);
    EXPECT_EQ(pinyin.candidates(QString::fromLatin1(longCode)), list({"码"}));

    const QString longQuery = QString(200'000, u'a');
    const QStringList sentence = pinyin.candidates(longQuery);
    ASSERT_EQ(sentence.size(), 1);
    EXPECT_EQ(sentence.front(), QString(200'000, QChar(u'啊')));
    EXPECT_THAT(pinyin.candidates(longQuery + QLatin1Char('b')), IsEmpty());
    EXPECT_THAT(pinyin.candidates(QString(1000, QChar(u'\xD800'))), IsEmpty()); // lone surrogates
}

TEST(PinyinTest, LoadsFromAFileAndReportsWhyNot)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pinyin_simp.dict.yaml"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(withHeader("你\tni\t1\n")) > 0);
    file.close();
    const Pinyin loaded(path);
    EXPECT_EQ(loaded.status(), Pinyin::Status::Loaded);
    EXPECT_EQ(loaded.candidates(u"ni"), list({"你"}));

    EXPECT_EQ(Pinyin(dir.filePath(QStringLiteral("missing.yaml"))).status(), Pinyin::Status::Missing);
    EXPECT_EQ(Pinyin(QString()).status(), Pinyin::Status::Missing);
    EXPECT_EQ(Pinyin(dir.path()).status(), Pinyin::Status::Unreadable);
}

TEST(PinyinTest, TheInstalledDictionaryAnswersEverydayQueries)
{
    const Pinyin pinyin{QStringLiteral(TELLWIRE_TEST_DICTIONARY)};
    ASSERT_TRUE(pinyin.ready()) << "missing " TELLWIRE_TEST_DICTIONARY " (package rime-data-pinyin-simp)";
    EXPECT_EQ(pinyin.codeCount(), 38999); // 39,032 as written; "xi an" and "xian" are one code
    EXPECT_EQ(pinyin.wordCount(), 65123);

    EXPECT_EQ(pinyin.candidates(u"nihao").value(0), QStringLiteral("你好"));
    EXPECT_EQ(pinyin.candidates(u"zhong").size(), 9);
    EXPECT_TRUE(pinyin.candidates(u"zhongguo").contains(QStringLiteral("中国")));
    EXPECT_EQ(pinyin.candidates(u"zhong'guo"), pinyin.candidates(u"zhongguo"));
    EXPECT_EQ(pinyin.candidates(QString(64, u'a')).size(), 1);
    EXPECT_THAT(pinyin.candidates(u"zhongv"), IsEmpty());
}

} // namespace
} // namespace tellwire
