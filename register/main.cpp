// TellwireRegister: makes ibus-daemon know the Tellwire component and enables its engine.

#include "IBusInputSources.h"
#include "Registration.h"

#include <glib.h>

#include <QStringList>

#include <cstdio>
#include <thread>

namespace {

// The tool's one line is its whole report; library chatter would add more.
GLogWriterOutput discard(GLogLevelFlags, const GLogField*, gsize, gpointer)
{
    return G_LOG_WRITER_HANDLED;
}

} // namespace

int main(int argc, char** argv)
{
    g_log_set_writer_func(discard, nullptr, nullptr);

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    tellwire::IBusInputSources sources;
    tellwire::Registration registration(sources, [](std::chrono::milliseconds pause) {
        std::this_thread::sleep_for(pause);
    });
    const auto outcome = registration.run(arguments);

    FILE* stream = outcome.stream == tellwire::Registration::Outcome::StandardError ? stderr : stdout;
    std::fputs(outcome.line.toUtf8().append('\n').constData(), stream);
    std::fflush(stream);
    return outcome.exitCode;
}
