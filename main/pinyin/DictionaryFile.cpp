#include "pinyin/DictionaryFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
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

} // namespace

DictionaryFile DictionaryFile::read(const QString& path)
{
    QFile file(path);
    if (path.isEmpty() || !file.exists())
        return DictionaryFile(Status::Missing);
    if (QFileInfo(file).isDir() || !file.open(QIODevice::ReadOnly))
        return DictionaryFile(Status::Unreadable);
    QByteArray text;
    if (!file.isSequential()) {
        if (file.size() > kLargestFile)
            return DictionaryFile(Status::TooLarge);
        text = file.readAll();
    } else {
        // A pipe has no size to check up front: read until the end or the limit.
        for (QByteArray part; !(part = file.read(1 << 20)).isEmpty();) {
            text += part;
            if (text.size() > kLargestFile)
                return DictionaryFile(Status::TooLarge);
        }
    }
    if (file.error() != QFileDevice::NoError)
        return DictionaryFile(Status::Unreadable);
    return parse(std::move(text));
}

DictionaryFile DictionaryFile::parse(QByteArray text)
{
    if (text.size() > kLargestFile)
        return DictionaryFile(Status::TooLarge);
    if (!isValidUtf8(text.constData(), std::size_t(text.size())))
        return DictionaryFile(Status::NotUtf8);
    DictionaryFile file(Status::Loaded);
    file.bytes_ = std::move(text);
    // Codes lose their spaces in place, so the buffer is ours to change.
    char* const base = file.bytes_.data();
    const char* const end = base + file.bytes_.size();
    std::size_t start = 0;
    if (file.bytes_.startsWith("\xEF\xBB\xBF")) // a byte-order mark is not text
        start = 3;
    std::vector<Row>& rows = file.rows_;
    rows.reserve(std::size_t(file.bytes_.size()) / 24);

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
        rows.push_back({Span{std::uint32_t(fields[0].data() - base), std::uint32_t(fields[0].size())},
                        Span{std::uint32_t(code - base), std::uint32_t(out - code)},
                        count > 2 ? parseWeight(fields[2]) : 0.0});
    }

    if (rows.empty())
        return DictionaryFile(Status::NoEntries);
    return file;
}

} // namespace tellwire
