#pragma once

#include "model/Transcript.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace tellwire {

// One reply to an events request: the events after the cursor that was asked
// for, and the cursor to ask with next.
struct EventBatch {
    QList<Transcript> events;
    qint64 cursor = 0;

    // Nothing unless the whole reply is well-formed: a missing "seq" or "at", or
    // any member of the wrong JSON type, refuses the batch.
    static std::optional<EventBatch> decode(const QByteArray& bytes);
};

} // namespace tellwire
