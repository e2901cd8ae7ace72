#pragma once

#include "Refusal.h"

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tellwire {

// What a phone publishes: the members of one transcript event that it chooses.
struct EventDraft {
    std::optional<std::string> utterance;
    std::optional<std::string> text;
    bool final = false;
    std::optional<std::string> session;
    std::optional<std::string> type;

    static constexpr std::size_t maxTextBytes = 4000;
    static constexpr std::size_t maxIdBytes = 128;
    static constexpr std::size_t maxTypeBytes = 64;

    // Checks the JSON type and size of every member; unknown members are ignored.
    static Outcome<EventDraft> fromJson(const nlohmann::json& body);
    nlohmann::json toJson() const;
};

// A published event: the draft plus what the relay assigns.
struct Event {
    EventDraft draft;
    std::int64_t seq = 0;
    std::int64_t at = 0; // milliseconds since 1970

    // The wire form the desktop decodes; members never published are left out.
    nlohmann::json toJson() const;
    std::size_t bytes() const;
};

} // namespace tellwire
