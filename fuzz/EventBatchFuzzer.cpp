// A reply to an events request: what decodes must encode and decode again to
// the same batch, and nothing may crash on the way.
#include "relayclient/EventBatch.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>

using tellwire::EventBatch;
using tellwire::Transcript;

namespace {

template <typename T>
void put(QJsonObject& object, const char* key, const std::optional<T>& value)
{
    if (value)
        object.insert(QLatin1String(key), *value);
}

QByteArray encode(const EventBatch& batch)
{
    QJsonArray events;
    for (const Transcript& event : batch.events) {
        QJsonObject object{{"seq", event.seq}, {"at", event.at}};
        put(object, "utterance", event.utterance);
        put(object, "text", event.text);
        put(object, "final", event.final);
        put(object, "session", event.session);
        put(object, "type", event.type);
        events.append(object);
    }
    return QJsonDocument(QJsonObject{{"events", events}, {"cursor", batch.cursor}}).toJson(QJsonDocument::Compact);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto batch = EventBatch::decode(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!batch)
        return 0;
    const QByteArray encoded = encode(*batch);
    const auto again = EventBatch::decode(encoded);
    if (!again || again->cursor != batch->cursor || again->events != batch->events) {
        fprintf(stderr, "fuzz_events: the batch changed on the way round: %s\n", encoded.constData());
        std::abort();
    }
    return 0;
}
