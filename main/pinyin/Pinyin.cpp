#include "pinyin/Pinyin.h"

#include "pinyin/Resources.h"

#include <QStringDecoder>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <bit>
#include <cstring>

namespace tellwire {

namespace {

std::uint32_t hashOf(const char* data, std::size_t length)
{
    // FNV-1a: codes are short, so a simple byte loop is as fast as anything.
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned char>(data[i]);
        hash *= 16777619u;
    }
    return hash;
}

bool isPlainAscii(QStringView text)
{
    // A CR is left to the general path: CR LF is a single character there.
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80 && c != u'\r'; });
}

// Words are used exactly as they stand: QString::fromUtf8 would drop a
// leading U+FEFF from every word.
QString decoded(QByteArrayView utf8)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder(utf8);
}

} // namespace

const Pinyin& Pinyin::shared()
{
    static const Pinyin instance(resourcePath(QString::fromLatin1(kResourceName)));
    return instance;
}

Pinyin::Pinyin() = default;
Pinyin::Pinyin(Pinyin&&) noexcept = default;
Pinyin& Pinyin::operator=(Pinyin&&) noexcept = default;
Pinyin::~Pinyin() = default;

Pinyin::Pinyin(const QString& path)
{
    load(DictionaryFile::read(path));
}

Pinyin Pinyin::fromBytes(QByteArray text)
{
    Pinyin pinyin;
    pinyin.load(DictionaryFile::parse(std::move(text)));
    return pinyin;
}

void Pinyin::load(DictionaryFile file)
{
    status_ = file.status();
    if (status_ != Status::Loaded)
        return;
    const std::vector<DictionaryFile::Row>& rows = file.rows();
    slots_.assign(std::bit_ceil(std::max<std::size_t>(64, std::size_t(file.bytes().size()) / 16)), 0);
    buffer_ = file.takeBytes();

    std::vector<std::uint32_t> codeOf(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        codeOf[i] = findOrAdd(rows[i].code);

    // Group the rows by code, keeping file order, then order each group by weight.
    std::vector<std::uint32_t> next(codes_.size(), 0);
    for (std::uint32_t code : codeOf)
        ++codes_[code].wordCount;
    std::uint32_t position = 0;
    for (std::size_t i = 0; i < codes_.size(); ++i) {
        codes_[i].firstWord = position;
        next[i] = position;
        position += codes_[i].wordCount;
    }
    struct Weighted {
        double weight;
        Span word;
    };
    std::vector<Weighted> grouped(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        grouped[next[codeOf[i]]++] = {rows[i].weight, rows[i].word};

    const auto heavier = [](const Weighted& a, const Weighted& b) { return a.weight > b.weight; };
    for (const Code& code : codes_) {
        auto first = grouped.begin() + code.firstWord;
        auto last = first + code.wordCount;
        if (code.wordCount < 2 || std::is_sorted(first, last, heavier))
            continue;
        std::stable_sort(first, last, heavier);
    }
    words_.resize(grouped.size());
    std::transform(grouped.begin(), grouped.end(), words_.begin(), [](const Weighted& w) { return w.word; });
}

std::uint32_t Pinyin::findOrAdd(Span text)
{
    const char* data = buffer_.constData() + text.offset;
    const std::uint32_t hash = hashOf(data, text.length);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const std::uint32_t slot = slots_[i];
        if (slot == 0)
            break;
        const Code& code = codes_[slot - 1];
        if (code.hash == hash && code.text.length == text.length &&
            std::memcmp(buffer_.constData() + code.text.offset, data, text.length) == 0)
            return slot - 1;
    }
    if ((codes_.size() + 1) * 2 > slots_.size())
        growIndex();
    codes_.push_back({text, hash, 0, 0});
    const std::size_t newMask = slots_.size() - 1;
    std::size_t i = hash & newMask;
    while (slots_[i] != 0)
        i = (i + 1) & newMask;
    slots_[i] = std::uint32_t(codes_.size());
    return std::uint32_t(codes_.size() - 1);
}

void Pinyin::growIndex()
{
    std::vector<std::uint32_t> grown(slots_.size() * 2, 0);
    const std::size_t mask = grown.size() - 1;
    for (std::size_t c = 0; c < codes_.size(); ++c) {
        std::size_t i = codes_[c].hash & mask;
        while (grown[i] != 0)
            i = (i + 1) & mask;
        grown[i] = std::uint32_t(c + 1);
    }
    slots_.swap(grown);
}

const Pinyin::Code* Pinyin::find(const char* key, std::size_t length) const
{
    if (codes_.empty())
        return nullptr;
    const std::uint32_t hash = hashOf(key, length);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const std::uint32_t slot = slots_[i];
        if (slot == 0)
            return nullptr;
        const Code& code = codes_[slot - 1];
        if (code.hash == hash && code.text.length == length &&
            std::memcmp(buffer_.constData() + code.text.offset, key, length) == 0)
            return &code;
    }
}

QString Pinyin::word(std::uint32_t index) const
{
    const Span& span = words_[index];
    return decoded(QByteArrayView(buffer_.constData() + span.offset, qsizetype(span.length)));
}

QStringList Pinyin::candidates(QStringView query) const
{
    if (codes_.empty())
        return {};

    // The key in UTF-8, and where each of its characters begins.
    QByteArray key;
    std::vector<std::uint32_t> boundaries;
    if (isPlainAscii(query)) {
        key.reserve(query.size());
        for (QChar c : query) {
            if (c != u'\'')
                key.append(char(c.unicode()));
        }
    } else {
        QString text = query.toString();
        text.remove(u'\'');
        // A character is what a reader sees as one: a base with its combining marks.
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        boundaries.push_back(0);
        for (qsizetype from = 0, to = finder.toNextBoundary(); to > 0; from = to, to = finder.toNextBoundary()) {
            key += QStringView(text).sliced(from, to - from).toUtf8();
            boundaries.push_back(std::uint32_t(key.size()));
        }
    }

    if (const Code* code = find(key.constData(), std::size_t(key.size()))) {
        QStringList words;
        const std::uint32_t count = std::min<std::uint32_t>(code->wordCount, kMostCandidates);
        words.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i)
            words.append(word(code->firstWord + i));
        return words;
    }
    if (key.isEmpty())
        return {};
    if (boundaries.empty()) {
        boundaries.resize(std::size_t(key.size()) + 1);
        for (std::size_t i = 0; i < boundaries.size(); ++i)
            boundaries[i] = std::uint32_t(i);
    }
    return sentence(key.constData(), boundaries);
}

QStringList Pinyin::sentence(const char* key, const std::vector<std::uint32_t>& boundaries) const
{
    // piece[e]: the code that ends the sentence covering the first e characters,
    // with start[e] where that code begins; the shortest such final piece wins.
    const std::size_t n = boundaries.size() - 1;
    std::vector<const Code*> piece(n + 1, nullptr);
    std::vector<std::uint32_t> start(n + 1, 0);
    std::vector<bool> defined(n + 1, false);
    defined[0] = true;
    for (std::size_t e = 1; e <= n; ++e) {
        const std::size_t lowest = e > std::size_t(kLongestPiece) ? e - std::size_t(kLongestPiece) : 0;
        for (std::size_t s = e; s-- > lowest;) {
            if (!defined[s])
                continue;
            if (const Code* code = find(key + boundaries[s], boundaries[e] - boundaries[s])) {
                piece[e] = code;
                start[e] = std::uint32_t(s);
                defined[e] = true;
                break;
            }
        }
    }
    if (!defined[n])
        return {};

    std::vector<const Code*> pieces;
    for (std::size_t e = n; e > 0; e = start[e])
        pieces.push_back(piece[e]);
    QByteArray text;
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
        const Span& span = words_[(*it)->firstWord];
        text.append(buffer_.constData() + span.offset, qsizetype(span.length));
    }
    return {decoded(text)};
}

std::size_t Pinyin::memoryUsage() const
{
    return sizeof(*this) + std::size_t(buffer_.capacity()) + codes_.capacity() * sizeof(Code) +
           words_.capacity() * sizeof(Span) + slots_.capacity() * sizeof(std::uint32_t);
}

} // namespace tellwire
