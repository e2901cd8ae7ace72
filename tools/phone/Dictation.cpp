#include "Dictation.h"

#include "Event.h"
#include "PhoneClient.h"
#include "RandomSource.h"

#include <nlohmann/json.hpp>

#include <thread>

namespace tellwire {

namespace {

bool startsCodePoint(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xc0) != 0x80;
}

std::string trimmed(const std::string& line)
{
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = line.find_last_not_of(" \t\r\n");
    return line.substr(first, last - first + 1);
}

} // namespace

Dictation::Dictation(PhoneClient& client, std::chrono::milliseconds pace)
    : client_(client)
    , pace_(pace)
    , session_("s-" + RandomSource::hex(8))
{
}

std::vector<std::string> Dictation::interims(const std::string& text, std::size_t step)
{
    std::vector<std::string> prefixes;
    std::size_t characters = 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (!startsCodePoint(text[i]))
            continue;
        if (++characters % step == 0)
            prefixes.push_back(text.substr(0, i));
    }
    return prefixes;
}

std::vector<std::string> Dictation::pieces(const std::string& text, std::size_t maxBytes)
{
    std::vector<std::string> out;
    std::size_t begin = 0;
    while (text.size() - begin > maxBytes) {
        std::size_t end = begin + maxBytes;
        while (end > begin && !startsCodePoint(text[end]))
            --end;
        if (end == begin)
            end = begin + maxBytes; // not UTF-8 at all: cut anywhere
        out.push_back(text.substr(begin, end - begin));
        begin = end;
    }
    out.push_back(text.substr(begin));
    return out;
}

void Dictation::pause()
{
    if (events_ > 0 && pace_.count() > 0)
        std::this_thread::sleep_for(pace_);
}

void Dictation::send(const std::string& utterance, const std::string& text, bool final)
{
    pause();
    client_.publish({{"utterance", utterance}, {"text", text}, {"final", final}, {"session", session_}});
    ++events_;
}

void Dictation::say(const std::string& line)
{
    const std::string text = trimmed(line);
    if (text.empty())
        return;
    for (const std::string& piece : pieces(text, EventDraft::maxTextBytes)) {
        const std::string utterance = "u-" + RandomSource::hex(8);
        for (const std::string& interim : interims(piece))
            send(utterance, interim, false);
        send(utterance, piece, true);
    }
}

void Dictation::end()
{
    pause();
    client_.publish({{"type", "session_end"}, {"session", session_}});
    ++events_;
}

} // namespace tellwire
