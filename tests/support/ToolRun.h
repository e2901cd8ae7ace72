#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace tellwire::testing {

// What a command-line program printed and how it ended.
struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Without an environment, the program gets this process's. Installing,
// registering and starting can each take a while on a busy machine.
inline ToolRun runTool(const QString& program, const QStringList& arguments,
                       const QProcessEnvironment& environment = {})
{
    QProcess tool;
    if (!environment.isEmpty())
        tool.setProcessEnvironment(environment);
    tool.start(program, arguments);
    EXPECT_TRUE(tool.waitForFinished(120000)) << program.toStdString();
    return {tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput()),
            QString::fromUtf8(tool.readAllStandardError())};
}

} // namespace tellwire::testing
