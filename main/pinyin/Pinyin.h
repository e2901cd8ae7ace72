#pragma once

#include "pinyin/DictionaryFile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tellwire {

// Turns typed pinyin letters into Chinese candidates, from the rows of a
// DictionaryFile. The file's buffer is kept; codes and words are offsets into
// it, grouped in one flat table and found through an open-addressing hash
// index. Immutable once loaded.
class Pinyin {
public:
    static constexpr qsizetype kMostCandidates = 9;
    // Longest piece, in characters, tried when assembling a sentence.
    static constexpr qsizetype kLongestPiece = 12;
    static constexpr char kResourceName[] = "pinyin_simp.dict.yaml";

    // Why a dictionary is not usable (or that it is).
    using Status = DictionaryFile::Status;

    // The process-wide dictionary, loaded from the resource folder on first use.
    static const Pinyin& shared();

    // An empty dictionary; not ready.
    Pinyin();
    // Loads the file at path; a missing or unusable file gives an empty dictionary.
    explicit Pinyin(const QString& path);
    // Loads a dictionary from the bytes of such a file.
    static Pinyin fromBytes(QByteArray text);

    Pinyin(Pinyin&&) noexcept;
    Pinyin& operator=(Pinyin&&) noexcept;
    Pinyin(const Pinyin&) = delete;
    Pinyin& operator=(const Pinyin&) = delete;
    ~Pinyin();

    // True exactly when at least one code was loaded.
    bool ready() const { return !codes_.empty(); }
    Status status() const { return status_; }

    // Best first, at most kMostCandidates: the words of the whole query as one
    // code, or else the one sentence assembled from shorter codes, or nothing.
    // Apostrophes in the query are ignored.
    QStringList candidates(QStringView query) const;

    qsizetype codeCount() const { return qsizetype(codes_.size()); }
    qsizetype wordCount() const { return qsizetype(words_.size()); }
    // Bytes held by the loaded dictionary.
    std::size_t memoryUsage() const;

private:
    using Span = DictionaryFile::Span;
    struct Code {
        Span text;
        std::uint32_t hash = 0;
        std::uint32_t firstWord = 0; // index into words_
        std::uint32_t wordCount = 0;
    };

    void load(DictionaryFile file);
    const Code* find(const char* key, std::size_t length) const;
    std::uint32_t findOrAdd(Span text);
    void growIndex();
    QString word(std::uint32_t index) const;
    QStringList sentence(const char* key, const std::vector<std::uint32_t>& boundaries) const;

    QByteArray buffer_;
    std::vector<Code> codes_;
    std::vector<Span> words_; // grouped by code, each group best first
    std::vector<std::uint32_t> slots_; // code index + 1; 0 = empty; size a power of two
    Status status_ = Status::Missing;
};

} // namespace tellwire
