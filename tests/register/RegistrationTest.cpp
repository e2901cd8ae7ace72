#include "InputSources.h"
#include "Registration.h"

#include <QDir>
#include <QTemporaryDir>

#include <gmock/gmock.h>

#include <vector>

using namespace std::chrono_literals;
using tellwire::InputSources;
using tellwire::Registration;
using Stream = Registration::Outcome::Stream;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class FakeInputSources final : public InputSources {
public:
    int registerStatus = 0;
    int listedFromSearch = 1; // the search (1-based) that first finds the engine; 0 = never
    int enableStatus = 0;

    std::vector<QString> registered;
    int searches = 0;
    std::vector<QString> enabled;

    int registerComponent(const QString& path) override
    {
        registered.push_back(path);
        return registerStatus;
    }
    bool lists(const QString& engine) override
    {
        ++searches;
        return engine == Registration::kEngine && listedFromSearch != 0 && searches >= listedFromSearch;
    }
    int enable(const QString& engine) override
    {
        enabled.push_back(engine);
        return enableStatus;
    }
};

class RegistrationTest : public ::testing::Test {
protected:
    QTemporaryDir scratch;
    QString component = scratch.filePath("tellwire.xml");
    FakeInputSources sources;
    std::vector<std::chrono::milliseconds> pauses;
    Registration registration{sources, [this](std::chrono::milliseconds pause) { pauses.push_back(pause); }};

    void SetUp() override
    {
        QFile file(component);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<component/>");
    }

    Registration::Outcome run(const QStringList& arguments)
    {
        auto outcome = registration.run(arguments);
        EXPECT_FALSE(outcome.line.contains(u'\n')) << "one line per run";
        EXPECT_FALSE(outcome.line.isEmpty());
        return outcome;
    }
};

void expectFailure(const Registration::Outcome& outcome, const QString& line, int code)
{
    EXPECT_EQ(outcome.line, line);
    EXPECT_EQ(outcome.exitCode, code);
    EXPECT_EQ(outcome.stream, Stream::StandardError);
}

TEST_F(RegistrationTest, WrongArgumentCountPrintsUsageAndRegistersNothing)
{
    for (const QStringList& arguments : {QStringList{}, QStringList{component, component}}) {
        expectFailure(run(arguments), "用法：TellwireRegister /完整路径/tellwire.xml", 1);
    }
    EXPECT_THAT(sources.registered, IsEmpty());
    EXPECT_EQ(sources.searches, 0);
}

TEST_F(RegistrationTest, MissingPathIsReportedWithThePath)
{
    const QString missing = scratch.filePath("nowhere/tellwire.xml");
    expectFailure(run({missing}), "未找到输入法：" + missing, 1);
    EXPECT_THAT(sources.registered, IsEmpty());
}

TEST_F(RegistrationTest, RegistersTheAbsolutePathOfFilesAndFolders)
{
    run({component});
    run({scratch.path()}); // a folder exists too; the framework decides what it makes of it
    const QString previous = QDir::currentPath();
    QDir::setCurrent(scratch.path());
    run({"tellwire.xml"});
    QDir::setCurrent(previous);

    EXPECT_THAT(sources.registered, ElementsAre(component, scratch.path(), component));
}

TEST_F(RegistrationTest, RegistrationFailureExitsWithThePlatformCode)
{
    sources.registerStatus = -50;
    expectFailure(run({component}), "输入源注册失败：-50", -50);
    EXPECT_EQ(sources.searches, 0);
    EXPECT_THAT(sources.enabled, IsEmpty());
}

TEST_F(RegistrationTest, RegistrationNeedingRootSaysHowToRunIt)
{
    sources.registerStatus = InputSources::kRootRequired;
    expectFailure(run({component}), "输入源注册需要 root 权限：请先用 sudo 运行一次，再以当前用户重新运行。",
                  InputSources::kRootRequired);
    EXPECT_EQ(sources.searches, 0);
}

TEST_F(RegistrationTest, FirstSearchSuccessTakesNoPauseAndEnables)
{
    const auto outcome = run({component});
    EXPECT_EQ(outcome.line, "已注册并启用语音输入。");
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.stream, Stream::StandardOutput);
    EXPECT_EQ(sources.searches, 1);
    EXPECT_THAT(pauses, IsEmpty());
    EXPECT_THAT(sources.enabled, ElementsAre(Registration::kEngine));
}

TEST_F(RegistrationTest, SearchPausesBetweenAttemptsUntilListed)
{
    sources.listedFromSearch = 3;
    EXPECT_EQ(run({component}).exitCode, 0);
    EXPECT_EQ(sources.searches, 3);
    EXPECT_THAT(pauses, ElementsAre(100ms, 100ms));
}

TEST_F(RegistrationTest, SearchGivesUpAfterTwentyAttemptsWithoutEnabling)
{
    sources.listedFromSearch = 0;
    expectFailure(run({component}), "输入源已注册，但 macOS 尚未发现它。请退出登录后重试。", 1);
    EXPECT_EQ(sources.searches, 20);
    EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>(20, 100ms));
    EXPECT_THAT(sources.registered, ElementsAre(component)); // not undone
    EXPECT_THAT(sources.enabled, IsEmpty());
}

TEST_F(RegistrationTest, SourceFoundOnTheLastAttemptStillCounts)
{
    sources.listedFromSearch = 20;
    EXPECT_EQ(run({component}).exitCode, 0);
    EXPECT_EQ(pauses.size(), 19u);
}

TEST_F(RegistrationTest, EnableFailureExitsWithItsCode)
{
    sources.enableStatus = 30;
    expectFailure(run({component}), "输入源启用失败：30", 30);
}

} // namespace
