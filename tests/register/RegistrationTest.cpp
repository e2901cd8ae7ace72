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
using ::testing::Each;
using ::testing::ElementsAre;

namespace {

class FakeInputSources final : public InputSources {
public:
    // listedFromSearch: the search (1-based) that first finds the engine; 0 = never.
    explicit FakeInputSources(int registerStatus = 0, int listedFromSearch = 1, int enableStatus = 0)
        : registerStatus(registerStatus), listedFromSearch(listedFromSearch), enableStatus(enableStatus)
    {
    }
    int registerStatus, listedFromSearch, enableStatus;

    QStringList registered;
    int searches = 0;
    QStringList enabled;

    int registerComponent(const QString& path) override { return registered.append(path), registerStatus; }
    bool lists(const QString& engine) override
    {
        ++searches;
        return engine == Registration::kEngine && listedFromSearch != 0 && searches >= listedFromSearch;
    }
    int enable(const QString& engine) override { return enabled.append(engine), enableStatus; }
};

class RegistrationTest : public ::testing::Test {
protected:
    QTemporaryDir scratch;
    QString component = scratch.filePath("tellwire.xml");

    void SetUp() override
    {
        QFile file(component);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
};

// Every row of the tool's message table, one line each, with what the
// framework was asked to do on the way.
TEST_F(RegistrationTest, EachOutcomeHasItsLineStreamAndExitCode)
{
    const QString missing = scratch.filePath("nowhere/tellwire.xml");
    const QString usage = "用法：TellwireRegister /完整路径/tellwire.xml";
    const QString success = "已注册并启用语音输入。";
    struct Row {
        QStringList arguments;
        int registerStatus, listedFromSearch, enableStatus;
        QString line;
        int exitCode;
        Stream stream;
        int searches;
    };
    const Row rows[] = {
        {{}, 0, 1, 0, usage, 1, Stream::StandardError, 0},
        {{component, component}, 0, 1, 0, usage, 1, Stream::StandardError, 0},
        {{missing}, 0, 1, 0, "未找到输入法：" + missing, 1, Stream::StandardError, 0},
        {{component}, -50, 1, 0, "输入源注册失败：-50", -50, Stream::StandardError, 0},
        {{component}, InputSources::kRootRequired, 1, 0,
         "输入源注册需要 root 权限：请先用 sudo 运行一次，再以当前用户重新运行。", InputSources::kRootRequired,
         Stream::StandardError, 0},
        // Found at once: no pause at all.
        {{component}, 0, 1, 0, success, 0, Stream::StandardOutput, 1},
        {{component}, 0, 20, 0, success, 0, Stream::StandardOutput, 20},
        // Never listed: 20 searches and 20 pauses; the registration is not undone.
        {{component}, 0, 0, 0, "输入源已注册，但 macOS 尚未发现它。请退出登录后重试。", 1, Stream::StandardError, 20},
        {{component}, 0, 1, 30, "输入源启用失败：30", 30, Stream::StandardError, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line.toStdString());
        FakeInputSources sources(row.registerStatus, row.listedFromSearch, row.enableStatus);
        std::vector<std::chrono::milliseconds> pauses;
        Registration registration(sources, [&](std::chrono::milliseconds pause) { pauses.push_back(pause); });

        const Registration::Outcome outcome = registration.run(row.arguments);

        EXPECT_EQ(outcome.line, row.line);
        EXPECT_EQ(outcome.exitCode, row.exitCode);
        EXPECT_EQ(outcome.stream, row.stream);
        EXPECT_EQ(sources.registered.size(), row.arguments == QStringList{component} ? 1 : 0);
        EXPECT_EQ(sources.searches, row.searches);
        const bool found = row.listedFromSearch != 0 && row.searches >= row.listedFromSearch;
        EXPECT_EQ(pauses.size(), std::size_t(row.searches - found));
        EXPECT_THAT(pauses, Each(100ms));
        EXPECT_EQ(sources.enabled, found ? QStringList{Registration::kEngine} : QStringList{});
    }
}

// A folder exists too; the framework decides what it makes of it.
TEST_F(RegistrationTest, RegistersTheAbsolutePathOfFilesAndFolders)
{
    FakeInputSources sources;
    Registration registration(sources, [](std::chrono::milliseconds) {});
    registration.run({scratch.path()});
    const QString previous = QDir::currentPath();
    QDir::setCurrent(scratch.path());
    registration.run({"tellwire.xml"});
    QDir::setCurrent(previous);

    EXPECT_THAT(sources.registered, ElementsAre(scratch.path(), component));
}

} // namespace
