#pragma once

#include <QString>

#include <optional>

namespace tellwire {

// One event from the relay: interim or final text of an utterance, or the end
// of a phone session.
struct Transcript {
    std::optional<QString> utterance;
    std::optional<QString> text;
    std::optional<bool> final;
    qint64 seq = 0;
    double at = 0; // milliseconds since 1970-01-01 UTC
    std::optional<QString> session;
    std::optional<QString> type;

    // The utterance, or "end-<seq>" for events that belong to none.
    QString id() const;
    bool isFinal() const { return final.value_or(false); }

    friend bool operator==(const Transcript&, const Transcript&) = default;
};

} // namespace tellwire
