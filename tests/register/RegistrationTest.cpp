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

    void SetUp() override
    {
        QFile file(component);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<component/>");
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
        bool enabled;
    };
    const Row rows[] = {
        {{}, 0, 1, 0, usage, 1, Stream::StandardError, 0, false},
        {{component, component}, 0, 1, 0, usage, 1, Stream::StandardError, 0, false},
        {{missing}, 0, 1, 0, "未找到输入法：" + missing, 1, Stream::StandardError, 0, false},
        {{component}, -50, 1, 0, "输入源注册失败：-50", -50, Stream::StandardError, 0, false},
        {{component}, InputSources::kRootRequired, 1, 0,
         "输入源注册需要 root 权限：请先用 sudo 运行一次，再以当前用户重新运行。", InputSources::kRootRequired,
         Stream::StandardError, 0, false},
        // Found at once: no pause at all.
        {{component}, 0, 1, 0, success, 0, Stream::StandardOutput, 1, true},
        {{component}, 0, 3, 0, success, 0, Stream::StandardOutput, 3, true},
        {{component}, 0, 20, 0, success, 0, Stream::StandardOutput, 20, true},
        // Never listed: 20 searches and 20 pauses; the registration is not undone.
        {{component}, 0, 0, 0, "输入源已注册，但 macOS 尚未发现它。请退出登录后重试。", 1, Stream::StandardError, 20,
         false},
        {{component}, 0, 1, 30, "输入源启用失败：30", 30, Stream::StandardError, 1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line.toStdString());
        FakeInputSources sources;
        sources.registerStatus = row.registerStatus;
        sources.listedFromSearch = row.listedFromSearch;
        sources.enableStatus = row.enableStatus;
        std::vector<std::chrono::milliseconds> pauses;
        Registration registration(sources, [&](std::chrono::milliseconds pause) { pauses.push_back(pause); });

        const Registration::Outcome outcome = registration.run(row.arguments);

        EXPECT_EQ(outcome.line, row.line);
        EXPECT_EQ(outcome.exitCode, row.exitCode);
        EXPECT_EQ(outcome.stream, row.stream);
        EXPECT_EQ(sources.registered.size(), row.arguments.size() == 1 && row.arguments[0] == component ? 1u : 0u);
        EXPECT_EQ(sources.searches, row.searches);
        const int found = row.listedFromSearch != 0 && row.searches >= row.listedFromSearch;
        EXPECT_EQ(pauses.size(), std::size_t(row.searches - found));
        EXPECT_THAT(pauses, Each(100ms));
        EXPECT_EQ(sources.enabled, row.enabled ? std::vector<QString>{Registration::kEngine} : std::vector<QString>{});
    }
}

TEST_F(RegistrationTest, RegistersTheAbsolutePathOfFilesAndFolders)
{
    FakeInputSources sources;
    Registration registration(sources, [](std::chrono::milliseconds) {});
    registration.run({component});
    registration.run({scratch.path()}); // a folder exists too; the framework decides what it makes of it
    const QString previous = QDir::currentPath();
    QDir::setCurrent(scratch.path());
    registration.run({"tellwire.xml"});
    QDir::setCurrent(previous);

    EXPECT_THAT(sources.registered, ElementsAre(component, scratch.path(), component));
}

} // namespace
