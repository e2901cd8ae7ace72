// GLib's headers come before Qt's, whose signals/slots keywords they use as names.
#include <ibus.h>

#include "ibus/IBusCandidateWindow.h"

#include "ibus/IBusTextClient.h"

#include <utility>

namespace tellwire {

IBusCandidateWindow::IBusCandidateWindow(IBusTextClient& output, std::function<QStringList()> candidates)
    : output_(output)
    , candidates_(std::move(candidates))
{
}

void IBusCandidateWindow::update()
{
    shown_ = candidates_();
    if (visible_)
        send();
}

void IBusCandidateWindow::show()
{
    // Already up, the table went out with the update before: once per key is enough.
    if (!std::exchange(visible_, true))
        send();
}

void IBusCandidateWindow::hide()
{
    const bool wasVisible = std::exchange(visible_, false);
    if (wasVisible && output_.engine())
        ibus_engine_hide_lookup_table(output_.engine());
}

void IBusCandidateWindow::send()
{
    IBusEngine* engine = output_.engine();
    if (!engine)
        return;
    IBusLookupTable* table = ibus_lookup_table_new(kPageSize, 0, FALSE, FALSE);
    ibus_lookup_table_set_orientation(table, IBUS_ORIENTATION_HORIZONTAL);
    for (const QString& candidate : std::as_const(shown_))
        ibus_lookup_table_append_candidate(table, ibus_text_new_from_string(candidate.toUtf8().constData()));
    ibus_engine_update_lookup_table(engine, table, TRUE);
}

} // namespace tellwire
