#include "input/Pinyin.h"

#include "input/Resources.h"

#include <QFile>
#include <QFileInfo>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>

namespace tellwire {

namespace {

// A thousand times the size of any real word list, and well inside the 32-bit
// offsets; bigger files are refused rather than read into memory.
constexpr qint64 kLargestFile = qint64(1) << 30;

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

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const char* text, std::size_t length)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto* end = p + length;
    while (p < end) {
        if (end - p >= 8) {
            std::uint64_t chunk;
            std::memcpy(&chunk, p, 8);
            if ((chunk & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        int follow;
        unsigned char low = 0x80, high = 0xbf; // allowed range of the second byte
        if (lead >= 0xc2 && lead <= 0xdf) {
            follow = 1;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            follow = 2;
            if (lead == 0xe0)
                low = 0xa0;
            else if (lead == 0xed)
                high = 0x9f;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            follow = 3;
            if (lead == 0xf0)
                low = 0x90;
            else if (lead == 0xf4)
                high = 0x8f;
        } else {
            return false;
        }
        if (end - p <= follow || p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i <= follow; ++i) {
            if ((p[i] & 0xc0) != 0x80)
                return false;
        }
        p += follow + 1;
    }
    return true;
}

// The value of a number too large or too small for a double: its sign and the
// rough size of its exponent decide between infinity and zero.
double outOfRange(std::string_view text, bool hex)
{
    const bool negative = !text.empty() && text.front() == '-';
    std::size_t i = (!text.empty() && (text.front() == '-' || text.front() == '+')) ? 1 : 0;
    if (hex)
        i += 2;
    const auto isDigit = [hex](char c) {
        return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    };
    long long integerDigits = 0, leadingFractionZeros = 0;
    bool seenNonZero = false;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        seenNonZero = seenNonZero || text[i] != '0';
        if (seenNonZero)
            ++integerDigits;
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && isDigit(text[i]); ++i) {
            if (integerDigits == 0 && !seenNonZero) {
                if (text[i] == '0')
                    ++leadingFractionZeros;
                else
                    seenNonZero = true;
            }
        }
    }
    long long exponent = 0;
    if (i < text.size()) { // 'e' or 'p'
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '-' || text[i] == '+'))
            negativeExponent = text[i++] == '-';
        for (; i < text.size(); ++i)
            exponent = std::min<long long>(exponent * 10 + (text[i] - '0'), 1'000'000'000);
        if (negativeExponent)
            exponent = -exponent;
    }
    const long long digitWeight = hex ? 4 : 1;
    const long long magnitude =
        integerDigits > 0 ? (integerDigits - 1) * digitWeight + exponent : exponent - (leadingFractionZeros + 1) * digitWeight;
    const double value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
}

// The weight field as a floating-point number. Anything that is not one gives
// 0, and so does NaN, so that weights stay totally ordered. Out-of-range
// numbers become infinities (or zero), like the C library's strtod.
double parseWeight(std::string_view text)
{
    // Plain integers, what real dictionaries hold, skip the general parser.
    if (!text.empty() && text.size() <= 15 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::int64_t value = 0;
        for (char c : text)
            value = value * 10 + (c - '0');
        return double(value);
    }
    std::string_view number = text;
    if (!number.empty() && number.front() == '+') {
        number.remove_prefix(1);
        if (!number.empty() && (number.front() == '+' || number.front() == '-'))
            return 0;
    }
    const bool negative = !number.empty() && number.front() == '-';
    std::string_view body = negative ? number.substr(1) : number;
    const bool hex = body.size() > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X');
    if (hex) {
        body.remove_prefix(2);
        if (body.empty() || body.front() == '+' || body.front() == '-')
            return 0;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), value,
                                              hex ? std::chars_format::hex : std::chars_format::general);
    if (end != body.data() + body.size() || body.empty())
        return 0;
    if (error == std::errc::result_out_of_range)
        return outOfRange(text, hex);
    if (error != std::errc() || std::isnan(value))
        return 0;
    return negative ? -value : value;
}

bool isPlainAscii(QStringView text)
{
    // A CR is left to the general path: CR LF is a single character there.
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80 && c != u'\r'; });
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
    QFile file(path);
    if (path.isEmpty() || !file.exists()) {
        status_ = Status::Missing;
        return;
    }
    if (QFileInfo(file).isDir() || !file.open(QIODevice::ReadOnly)) {
        status_ = Status::Unreadable;
        return;
    }
    QByteArray text;
    if (!file.isSequential()) {
        if (file.size() > kLargestFile) {
            status_ = Status::TooLarge;
            return;
        }
        text = file.readAll();
    } else {
        // A pipe has no size to check up front: read until the end or the limit.
        for (QByteArray part; !(part = file.read(1 << 20)).isEmpty();) {
            text += part;
            if (text.size() > kLargestFile) {
                status_ = Status::TooLarge;
                return;
            }
        }
    }
    if (file.error() != QFileDevice::NoError) {
        status_ = Status::Unreadable;
        return;
    }
    load(std::move(text));
}

Pinyin Pinyin::fromBytes(QByteArray text)
{
    Pinyin pinyin;
    pinyin.load(std::move(text));
    return pinyin;
}

void Pinyin::load(QByteArray text)
{
    if (text.size() > kLargestFile) {
        status_ = Status::TooLarge;
        return;
    }
    if (!isValidUtf8(text.constData(), std::size_t(text.size()))) {
        status_ = Status::NotUtf8;
        return;
    }
    buffer_ = std::move(text);
    // Codes lose their spaces in place, so the buffer is ours to change.
    char* const base = buffer_.data();
    const char* const end = base + buffer_.size();
    std::size_t start = 0;
    if (buffer_.startsWith("\xEF\xBB\xBF")) // a byte-order mark is not text
        start = 3;

    struct Entry {
        std::uint32_t code;
        Span word;
        double weight;
    };
    std::vector<Entry> entries;
    entries.reserve(std::size_t(buffer_.size()) / 24);
    slots_.assign(std::bit_ceil(std::max<std::size_t>(64, std::size_t(buffer_.size()) / 16)), 0);

    bool inBody = false;
    for (char* line = base + start; line < end;) {
        char* lineEnd = static_cast<char*>(std::memchr(line, '\n', std::size_t(end - line)));
        if (!lineEnd)
            lineEnd = const_cast<char*>(end);
        const std::string_view text(line, std::size_t(lineEnd - line));
        char* const next = lineEnd + 1;
        if (text.empty() || (inBody && text.front() == '#')) {
            line = next;
            continue;
        }
        if (!inBody) {
            inBody = text == "...";
            line = next;
            continue;
        }

        // Up to three non-empty TAB-separated fields; runs of tabs separate once.
        std::string_view fields[3];
        int count = 0;
        for (char* p = line; p < lineEnd && count < 3;) {
            char* tab = static_cast<char*>(std::memchr(p, '\t', std::size_t(lineEnd - p)));
            if (!tab)
                tab = lineEnd;
            if (tab > p)
                fields[count++] = std::string_view(p, std::size_t(tab - p));
            p = tab + 1;
        }
        line = next;
        if (count < 2)
            continue;

        char* code = const_cast<char*>(fields[1].data());
        char* out = code;
        for (char c : fields[1]) {
            if (c != ' ')
                *out++ = c;
        }
        const Span codeText{std::uint32_t(code - base), std::uint32_t(out - code)};
        const Span word{std::uint32_t(fields[0].data() - base), std::uint32_t(fields[0].size())};
        entries.push_back({findOrAdd(codeText), word, count > 2 ? parseWeight(fields[2]) : 0.0});
    }

    // Group the entries by code, keeping file order, then order each group by weight.
    std::vector<std::uint32_t> next(codes_.size(), 0);
    for (const Entry& entry : entries)
        ++codes_[entry.code].wordCount;
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
    std::vector<Weighted> grouped(entries.size());
    for (const Entry& entry : entries)
        grouped[next[entry.code]++] = {entry.weight, entry.word};
    std::vector<Entry>().swap(entries);

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

    if (codes_.empty()) {
        status_ = Status::NoEntries;
        buffer_ = QByteArray();
        slots_ = {};
        return;
    }
    status_ = Status::Loaded;
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
    return QString::fromUtf8(buffer_.constData() + span.offset, qsizetype(span.length));
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
    return {QString::fromUtf8(text)};
}

std::size_t Pinyin::memoryUsage() const
{
    return sizeof(*this) + std::size_t(buffer_.capacity()) + codes_.capacity() * sizeof(Code) +
           words_.capacity() * sizeof(Span) + slots_.capacity() * sizeof(std::uint32_t);
}

} // namespace tellwire
