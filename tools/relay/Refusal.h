#pragma once

#include <string>
#include <variant>

namespace tellwire {

// A request the relay turns down: the HTTP status and the {"error", "message"}
// body. The message is what the desktop shows its user, hence Chinese.
struct Refusal {
    int status = 400;
    std::string error;
    std::string message;

    static Refusal invalidPhone();
    static Refusal invalidCode();
    static Refusal rateLimited();
    static Refusal unauthorized();
    static Refusal forbidden();
    static Refusal invalidRequest(std::string message);
    static Refusal invalidJson();
    static Refusal tooLarge();
    static Refusal notFound();
    static Refusal methodNotAllowed();
    static Refusal internal();

    // The refusal a bare status stands for, when the HTTP layer produced it.
    static Refusal forStatus(int status);

    friend bool operator==(const Refusal&, const Refusal&) = default;
};

// The result of a relay operation: its value, or why it was refused.
template <typename T>
using Outcome = std::variant<T, Refusal>;

} // namespace tellwire
