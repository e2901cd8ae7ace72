#include "relayclient/EventBatch.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariant>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace tellwire {

namespace {

// From 2^53 on, a double may already be rounded: 2^53 + 1 reads as 2^53.
constexpr double kExactLimit = 9007199254740992.0;

// A JSON integer that fits in 64 bits. Integral doubles are taken only where
// they are exact; 5.9 or 1e300 are refused.
std::optional<qint64> integer(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    if (std::trunc(number) != number || std::fabs(number) >= kExactLimit)
        return std::nullopt;
    return static_cast<qint64>(number);
}

bool beyondExact(qint64 number)
{
    return std::fabs(double(number)) >= kExactLimit;
}

// Qt keeps every whole number that fits in 64 bits as an integer, also one
// written 1e18 or 9007199254740993.0 and already rounded, so from 2^53 on only
// the written form tells. A reply this parser cannot read is refused.
bool writtenAsIntegers(const QByteArray& bytes)
{
    using Json = nlohmann::json;
    const auto exact = [](const Json& object, const char* key) {
        if (!object.is_object() || !object.contains(key))
            return false;
        const Json& number = object[key];
        return number.is_number_integer() ||
               (number.is_number_float() && std::fabs(number.get<double>()) < kExactLimit);
    };
    const Json document = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!exact(document, "cursor") || !document.contains("events") || !document["events"].is_array())
        return false;
    const Json& events = document["events"];
    return std::all_of(events.begin(), events.end(), [&](const Json& event) { return exact(event, "seq"); });
}

bool absent(const QJsonValue& value)
{
    return value.isUndefined() || value.isNull();
}

// Absent or null leaves out empty; a value of the member's JSON type fills it;
// anything else is refused.
template <typename T>
bool readOptional(const QJsonObject& object, QLatin1String key, std::optional<T>& out)
{
    const QJsonValue value = object.value(key);
    if (absent(value))
        return true;
    if constexpr (std::is_same_v<T, bool>) {
        if (!value.isBool())
            return false;
        out = value.toBool();
    } else {
        if (!value.isString())
            return false;
        out = value.toString();
    }
    return true;
}

std::optional<Transcript> decodeEvent(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const std::optional<qint64> seq = integer(object.value(QLatin1String("seq")));
    const QJsonValue at = object.value(QLatin1String("at"));
    if (!seq || !at.isDouble())
        return std::nullopt;
    Transcript event;
    event.seq = *seq;
    event.at = at.toDouble();
    if (!readOptional(object, QLatin1String("utterance"), event.utterance)
        || !readOptional(object, QLatin1String("text"), event.text)
        || !readOptional(object, QLatin1String("final"), event.final)
        || !readOptional(object, QLatin1String("session"), event.session)
        || !readOptional(object, QLatin1String("type"), event.type))
        return std::nullopt;
    return event;
}

} // namespace

std::optional<EventBatch> EventBatch::decode(const QByteArray& bytes)
{
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue events = object.value(QLatin1String("events"));
    const std::optional<qint64> cursor = integer(object.value(QLatin1String("cursor")));
    if (!events.isArray() || !cursor)
        return std::nullopt;

    EventBatch batch;
    batch.cursor = *cursor;
    bool checkWrittenForm = beyondExact(*cursor);
    const QJsonArray list = events.toArray();
    batch.events.reserve(list.size());
    for (const QJsonValue& item : list) {
        std::optional<Transcript> event = decodeEvent(item);
        if (!event)
            return std::nullopt;
        checkWrittenForm = checkWrittenForm || beyondExact(event->seq);
        batch.events.append(std::move(*event));
    }
    if (checkWrittenForm && !writtenAsIntegers(bytes))
        return std::nullopt;
    return batch;
}

} // namespace tellwire
