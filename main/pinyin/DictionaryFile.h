#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

namespace tellwire {

// Reads a word list in the format of pinyin_simp.dict.yaml: a header ending at
// a line "...", then lines "word<TAB>code<TAB>weight". Only reading: what the
// rows mean to typing is Pinyin's business. The file stays in one buffer and
// each row refers into it, so reading allocates nothing per word.
class DictionaryFile {
public:
    // Why a file gives no rows (or that it gives some).
    enum class Status { Loaded, Missing, Unreadable, TooLarge, NotUtf8, NoEntries };

    // A stretch of bytes().
    struct Span {
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
    };
    struct Row {
        Span word;
        Span code; // without the spaces between its syllables
        double weight = 0; // 0 when missing or not a number
    };

    // Reads the file at path; a missing or unusable file gives no rows.
    static DictionaryFile read(const QString& path);
    // Reads the bytes of such a file.
    static DictionaryFile parse(QByteArray text);

    Status status() const { return status_; }
    // In file order; empty unless Loaded.
    const std::vector<Row>& rows() const { return rows_; }
    const QByteArray& bytes() const { return bytes_; }
    // Hands the buffer over without a copy; the rows stay valid against it.
    QByteArray takeBytes() { return std::move(bytes_); }

private:
    explicit DictionaryFile(Status status)
        : status_(status)
    {
    }

    Status status_;
    QByteArray bytes_;
    std::vector<Row> rows_;
};

} // namespace tellwire
