#pragma once

#include <QString>

#include <limits>

namespace tellwire {

// A range inside a client's text, counted in UTF-16 units.
struct TextRange {
    qsizetype location = 0;
    qsizetype length = 0;

    friend bool operator==(const TextRange&, const TextRange&) = default;
};

inline constexpr qsizetype kNotFound = std::numeric_limits<qsizetype>::max();

// Passed as the replacement range of every call, so the client decides what is
// replaced: its current marked text, or nothing.
inline constexpr TextRange kNoReplacement{kNotFound, 0};

// The text of one client input session, as the input-method host exposes it.
class TextClient {
public:
    virtual ~TextClient() = default;

    // Replaces the whole marked (preedit) text; the empty text removes it.
    virtual void setMarkedText(const QString& text, TextRange selection, TextRange replacement) = 0;

    // Commits text at the cursor, replacing the marked text if there is any.
    virtual void insertText(const QString& text, TextRange replacement) = 0;
};

} // namespace tellwire
