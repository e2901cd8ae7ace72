#include "support/FieldsApp.h"

#include "support/Wait.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

namespace tellwire::testing {

void FieldsApp::start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(program, arguments);
}

FieldsApp::~FieldsApp()
{
    process_.kill();
    process_.waitForFinished();
}

void FieldsApp::read()
{
    while (process_.canReadLine()) {
        QString line = QString::fromUtf8(process_.readLine()).trimmed();
        if (const qsizetype at = line.indexOf(QLatin1String("\"state {")); at >= 0)
            line = line.mid(at + 7, line.lastIndexOf(QLatin1String("\", source")) - at - 7);
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        if (object.contains(QLatin1String("places")))
            places = object[QLatin1String("places")].toObject();
        else if (!object.isEmpty())
            state = object;
        else
            output = (output + line + '\n').right(2000);
    }
}

bool FieldsApp::until(const char* what, const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const bool held = waitUntil([&] { return read(), condition(); }, timeout);
    if (!held)
        ADD_FAILURE() << what << ": never; the application shows "
                      << QJsonDocument(state).toJson(QJsonDocument::Compact).toStdString() << "\n"
                      << output.toStdString();
    return held;
}

} // namespace tellwire::testing
