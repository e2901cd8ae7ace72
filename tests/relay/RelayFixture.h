#pragma once

#include "TestServer.h"

#include "input/VoiceInputController.h"
#include "relay/API.h"
#include "relay/Defaults.h"
#include "relay/DesktopState.h"
#include "relay/SecretStore.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <memory>
#include <string>

namespace tellwire::testing {

using namespace std::chrono_literals;

template <typename Predicate>
bool waitUntil(Predicate done)
{
    return QTest::qWaitFor(done, 10000);
}

// A desktop state talking to a TestServer, with a fixed clock and a short
// retry pause.
class RelayFixture : public ::testing::Test {
protected:
    static constexpr double kNow = 1'700'000'000'000.0;

    TestServer server;
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    RecordingShell shell;
    double now = kNow;
    std::unique_ptr<DesktopState> state;

    void makeState(SecretStore& store)
    {
        state = std::make_unique<DesktopState>(store, defaults, nullptr);
        state->setBase(server.base());
        state->setShell(&shell);
        state->setClock([this] { return now; });
        state->setRetryPause(50ms);
    }
    void TearDown() override { state.reset(); }

    // Runs the event loop through one full round trip to the server, so that
    // anything already under way has had its chance to show.
    void barrier()
    {
        server.on("/barrier", TestServer::reply(200, "{}"));
        bool done = false;
        QObject context;
        API(server.base(), {}).request(QStringLiteral("/barrier"), std::nullopt, &context,
                                       [&](const std::optional<APIError>&, const QByteArray&) { done = true; });
        ASSERT_TRUE(waitUntil([&] { return done; }));
    }

    std::vector<std::string> targets(const std::string& path) const
    {
        std::vector<std::string> result;
        for (const RecordedRequest& r : server.requests()) {
            if (r.target.rfind(path, 0) == 0)
                result.push_back(r.target);
        }
        return result;
    }
    QStringList historyIDs() const
    {
        QStringList ids;
        for (const Transcript& t : state->history())
            ids.append(t.id());
        return ids;
    }

    static QJsonObject event(const char* utterance, const char* text, bool final, double at, qint64 seq)
    {
        return {{"utterance", utterance}, {"text", QString::fromUtf8(text)}, {"seq", seq}, {"at", at}, {"final", final}};
    }
    static std::string batch(qint64 cursor, const QJsonArray& events = {})
    {
        return QJsonDocument(QJsonObject{{"events", events}, {"cursor", cursor}}).toJson(QJsonDocument::Compact).toStdString();
    }
};

} // namespace tellwire::testing
