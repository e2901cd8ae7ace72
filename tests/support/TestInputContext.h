#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _IBusInputContext IBusInputContext;
typedef struct _GVariant GVariant;

namespace tellwire::testing {

// What an application sees of one input context: a client of the daemon that
// focuses, types and records what the engine sends back. Every call waits for
// its answer while running the main loop, so an engine in this same process
// keeps being served.
class TestInputContext {
public:
    struct Preedit {
        QString text;
        unsigned cursor = 0;
        bool visible = false;
    };

    // A new context on its own connection to the daemon at address, able to
    // show preedit text and the lookup table itself.
    static std::unique_ptr<TestInputContext> create(const QString& address,
                                                    const char* clientName = "tellwire-test");
    ~TestInputContext();

    QString path() const;
    // Switches the context to engine and waits until the daemon has done so.
    bool setEngine(const char* engine);
    void focusIn();
    void focusOut();
    void reset();
    // What the client can show itself, as IBusCapabilite flags.
    void setCapabilities(unsigned capabilities);
    // The field's purpose and hints, as IBusInputPurpose and IBusInputHints.
    void setContentType(unsigned purpose, unsigned hints = 0);
    // Sends a key press (and its release) and returns whether the engine
    // handled the press; nullopt when no answer came.
    std::optional<bool> press(unsigned keyval, unsigned state = 0);
    std::optional<bool> sendKey(unsigned keyval, unsigned state);

    // Everything committed so far, in order.
    QString committed;
    std::vector<QString> commits;
    Preedit preedit;
    int preeditUpdates = 0;
    // When the latest preedit update arrived.
    std::chrono::steady_clock::time_point preeditAt;
    QStringList lookupTable;
    bool lookupVisible = false;
    int lookupUpdates = 0;

private:
    TestInputContext() = default;
    GVariant* call(const char* path, const char* interface, const char* method, GVariant* arguments,
                   const char* replyType);

    GDBusConnection* connection_ = nullptr;
    IBusInputContext* context_ = nullptr;
};

} // namespace tellwire::testing
