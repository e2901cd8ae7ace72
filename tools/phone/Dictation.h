#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tellwire {

class PhoneClient;

// Plays a phone's dictation: each utterance as interim events whose text grows
// a few characters at a time, then its final event; a session_end at the end.
class Dictation {
public:
    static constexpr std::size_t charactersPerStep = 3;

    Dictation(PhoneClient& client, std::chrono::milliseconds pace);

    // Dictates one line; a line longer than one event may carry becomes
    // several utterances, so nothing is cut off. Blank lines are skipped.
    void say(const std::string& line);
    void end();

    std::size_t events() const { return events_; }

    // The interim texts of an utterance: growing prefixes on code-point
    // boundaries, each shorter than the whole text.
    static std::vector<std::string> interims(const std::string& text, std::size_t step = charactersPerStep);
    // The text cut into pieces of at most maxBytes, on code-point boundaries.
    static std::vector<std::string> pieces(const std::string& text, std::size_t maxBytes);

private:
    void send(const std::string& utterance, const std::string& text, bool final);
    void pause();

    PhoneClient& client_;
    std::chrono::milliseconds pace_;
    std::string session_;
    std::size_t events_ = 0;
};

} // namespace tellwire
