// Every outcome of TellwireRegister against a fake framework: its one line,
// stream and exit code, and what the framework was asked on the way.
#include "InputSources.h"
#include "Registration.h"
#include "support/Messages.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using tellwire::Registration;
namespace msg = tellwire::testing::msg;

// Lists the engine from the `listedFrom`th search on (0: never).
struct FakeInputSources final : tellwire::InputSources {
    FakeInputSources(int r, int l, int e) : registerStatus(r), listedFrom(l), enableStatus(e) {}
    int registerComponent(const QString& path) override { return registered.append(path), registerStatus; }
    bool lists(const QString& engine) override
    {
        return ++searches >= listedFrom && listedFrom != 0 && engine == Registration::kEngine;
    }
    int enable(const QString& engine) override { return enabled.append(engine), enableStatus; }
    const int registerStatus, listedFrom, enableStatus;
    int searches = 0;
    QStringList registered, enabled;
};

TEST(RegistrationTest, EachOutcomeHasItsLineStreamAndExitCode)
{
    QTemporaryDir scratch;
    ASSERT_TRUE(QFile(scratch.filePath("tellwire.xml")).open(QIODevice::WriteOnly));
    const QString previous = QDir::currentPath(), file = "tellwire.xml";
    QDir::setCurrent(scratch.path()); // a relative path is registered as an absolute one
    const struct {
        QStringList arguments;
        int registerStatus, listedFrom, enableStatus;
        QString line;
        int exitCode, searches;
    } rows[] = {
        {{file, file}, 0, 1, 0, msg::kUsage, 1, 0},
        {{"none.xml"}, 0, 1, 0, msg::kComponentMissing + QString("none.xml"), 1, 0},
        {{file}, -50, 1, 0, msg::kRegisterFailed + QString("-50"), -50, 0},
        {{file}, tellwire::InputSources::kRootRequired, 1, 0, msg::kNeedsRoot, 77, 0},
        {{file}, 0, 20, 0, msg::kRegistered, 0, 20},
        {{file}, 0, 0, 0, msg::kNotDiscovered, 1, 20}, // the registration is not undone
        {{file}, 0, 1, 30, msg::kEnableFailed + QString("30"), 30, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line.toStdString());
        FakeInputSources sources(row.registerStatus, row.listedFrom, row.enableStatus);
        std::vector<std::chrono::milliseconds> pauses;
        const auto outcome = Registration(sources, [&](auto pause) { pauses.push_back(pause); }).run(row.arguments);
        const bool found = row.listedFrom != 0 && row.searches >= row.listedFrom;
        EXPECT_EQ(std::pair(outcome.line, outcome.exitCode), std::pair(row.line, row.exitCode));
        EXPECT_EQ(outcome.stream == Registration::Outcome::StandardOutput, row.exitCode == 0);
        const bool reached = row.arguments == QStringList{file};
        EXPECT_EQ(sources.registered, reached ? QStringList{scratch.filePath(file)} : QStringList{});
        EXPECT_EQ(sources.searches, row.searches);
        EXPECT_EQ(pauses, std::vector(row.searches - found, std::chrono::milliseconds(100))) << "after each miss";
        EXPECT_EQ(sources.enabled, found ? QStringList{Registration::kEngine} : QStringList{});
    }
    QDir::setCurrent(previous);
}
