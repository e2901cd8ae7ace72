#include "Event.h"

#include <nlohmann/json.hpp>

namespace tellwire {

namespace {

// Reads an optional string member; null counts as absent.
bool readString(const nlohmann::json& body, const char* name, std::size_t maxBytes,
                std::optional<std::string>& out, std::optional<Refusal>& refusal)
{
    const auto it = body.find(name);
    if (it == body.end() || it->is_null())
        return true;
    if (!it->is_string()) {
        refusal = Refusal{400, "invalid_event", std::string("事件的 ") + name + " 必须是字符串"};
        return false;
    }
    const auto& value = it->get_ref<const std::string&>();
    if (value.size() > maxBytes) {
        refusal = Refusal{413, "too_large", std::string("事件的 ") + name + " 过长"};
        return false;
    }
    out = value;
    return true;
}

} // namespace

Outcome<EventDraft> EventDraft::fromJson(const nlohmann::json& body)
{
    if (!body.is_object())
        return Refusal::invalidJson();
    EventDraft draft;
    std::optional<Refusal> refusal;
    if (!readString(body, "utterance", maxIdBytes, draft.utterance, refusal)
        || !readString(body, "text", maxTextBytes, draft.text, refusal)
        || !readString(body, "session", maxIdBytes, draft.session, refusal)
        || !readString(body, "type", maxTypeBytes, draft.type, refusal))
        return *refusal;
    if (const auto it = body.find("final"); it != body.end() && !it->is_null()) {
        if (!it->is_boolean())
            return Refusal{400, "invalid_event", "事件的 final 必须是布尔值"};
        draft.final = it->get<bool>();
    }
    if (!(draft.utterance && draft.text) && !draft.type)
        return Refusal{400, "invalid_event", "事件需要 utterance 和 text，或者 type"};
    return draft;
}

nlohmann::json EventDraft::toJson() const
{
    nlohmann::json json = nlohmann::json::object();
    if (utterance)
        json["utterance"] = *utterance;
    if (text)
        json["text"] = *text;
    json["final"] = final;
    if (session)
        json["session"] = *session;
    if (type)
        json["type"] = *type;
    return json;
}

nlohmann::json Event::toJson() const
{
    nlohmann::json json = draft.toJson();
    json["seq"] = seq;
    json["at"] = at;
    return json;
}

std::size_t Event::bytes() const
{
    const auto size = [](const std::optional<std::string>& s) { return s ? s->size() : 0; };
    return sizeof(Event) + size(draft.utterance) + size(draft.text) + size(draft.session)
        + size(draft.type);
}

} // namespace tellwire
