// The rules of the relay's and the phone's own pieces, without a network.
#include "Dictation.h"
#include "PhoneNumber.h"
#include "RelayCommandLine.h"

#include <gmock/gmock.h>

using namespace tellwire;
using namespace std::chrono_literals;
using testing::ElementsAre;

TEST(Dictation, InterimsGrowByWholeCharactersAndStopShortOfTheFinal)
{
    EXPECT_THAT(Dictation::interims("你好世界，今天"), ElementsAre("你好世", "你好世界，今"));
    EXPECT_THAT(Dictation::interims("abcdef"), ElementsAre("abc"));
    EXPECT_THAT(Dictation::interims("你好"), testing::IsEmpty());
    EXPECT_THAT(Dictation::interims("a😀bcd", 2), ElementsAre("a😀", "a😀bc"));
}

TEST(Dictation, LongLinesAreCutOnCharacterBoundariesWithoutLosingText)
{
    std::string line;
    for (int i = 0; i < 3000; ++i)
        line += "字"; // 3 bytes each: 9000 bytes
    const auto pieces = Dictation::pieces(line, 4000);
    ASSERT_EQ(pieces.size(), 3u);
    std::string joined;
    for (const auto& piece : pieces) {
        EXPECT_LE(piece.size(), 4000u);
        EXPECT_EQ(piece.size() % 3, 0u) << "cut inside a character";
        joined += piece;
    }
    EXPECT_EQ(joined, line);
    EXPECT_THAT(Dictation::pieces("short", 4000), ElementsAre("short"));
}

TEST(PhoneNumberRule, MatchesTheDesktopsPatternAndNamesTheAccount)
{
    EXPECT_EQ(accountNumber("13800138000"), "13800138000");
    EXPECT_EQ(accountNumber("8619912345678"), "19912345678");
    EXPECT_EQ(accountNumber("+8613800138000"), "13800138000");
    for (const char* bad : {"10800138000", "11800138000", "12800138000", "1380013800", "138001380001",
                            "+86 13800138000", "138 00138000", "+13800138000", "+8513800138000",
                            "0086138001380000", "13800138000\n", "", "１３８００１３８０００"})
        EXPECT_FALSE(accountNumber(bad)) << bad;
}

TEST(RelayCommandLineTest, ReadsEveryOption)
{
    const auto parsed = RelayCommandLine::parse({"--listen", "[::1]:0", "--code", "123456", "--hold", "1.5",
                                                 "--tls-cert", "c.pem", "--tls-key", "k.pem"});
    ASSERT_TRUE(std::holds_alternative<RelayCommandLine>(parsed)) << std::get<std::string>(parsed);
    const auto& line = std::get<RelayCommandLine>(parsed);
    EXPECT_EQ(line.host, "::1");
    EXPECT_EQ(line.port, 0);
    EXPECT_EQ(line.fixedCode, "123456");
    EXPECT_EQ(line.hold, 1500ms);
    ASSERT_TRUE(line.tls);
    EXPECT_EQ(line.tls->certificate, "c.pem");
    EXPECT_EQ(line.tls->privateKey, "k.pem");

    const auto defaults = std::get<RelayCommandLine>(RelayCommandLine::parse({}));
    EXPECT_EQ(defaults.host, "127.0.0.1");
    EXPECT_EQ(defaults.port, 8787);
    EXPECT_EQ(defaults.hold, 20s);
    EXPECT_EQ(std::get<RelayCommandLine>(RelayCommandLine::parse({"--hold", "24"})).hold, 24s);
}

TEST(RelayCommandLineTest, RefusesWhatItCannotUse)
{
    const std::vector<std::vector<std::string>> refused{
        {"--hold", "25"}, {"--hold", "24.001"}, {"--hold", "-1"}, {"--hold", "1e3"}, {"--hold", "."},
        {"--code", "12345"}, {"--code", "12345a"}, {"--listen", "nowhere"}, {"--listen", ":80"},
        {"--listen", "127.0.0.1:70000"}, {"--listen", "127.0.0.1:-1"}, {"--tls-cert", "only.pem"},
        {"--bogus"}, {"--code"}};
    for (const auto& args : refused)
        EXPECT_TRUE(std::holds_alternative<std::string>(RelayCommandLine::parse(args))) << args.front() << " "
                                                                                         << args.back();
}
