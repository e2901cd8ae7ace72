#pragma once

#include <QString>

namespace tellwire {

// A failed exchange with the relay. `message` is what the user reads.
struct APIError {
    // Who wrote the message: the relay's reply (mapped), the network layer, or
    // the JSON reader.
    enum class Source { Relay, Transport, Parser };

    QString message;
    qint64 status = 0; // HTTP status of the reply, 0 when there was none
    Source source = Source::Relay;

    const QString& errorDescription() const { return message; }
    // The relay itself turned the bearer token away; anything else (no
    // network, a relay that is down) says nothing about the sign-in.
    bool refusesToken() const { return source == Source::Relay && (status == 401 || status == 403); }

    // The sentence for a reply outside 200-299, from its status and body.
    static APIError fromReply(qint64 status, const QByteArray& body);

    friend bool operator==(const APIError&, const APIError&) = default;
};

} // namespace tellwire
