#include "RandomSource.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace tellwire {

void RandomSource::fill(void* buffer, std::size_t size)
{
    auto* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t got = getrandom(out, size, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("getrandom failed");
        }
        out += got;
        size -= static_cast<std::size_t>(got);
    }
}

std::string RandomSource::hex(std::size_t bytes)
{
    static constexpr char alphabet[] = "0123456789abcdef";
    std::vector<unsigned char> raw(bytes);
    fill(raw.data(), raw.size());
    std::string text;
    text.reserve(bytes * 2);
    for (unsigned char byte : raw) {
        text.push_back(alphabet[byte >> 4]);
        text.push_back(alphabet[byte & 0x0f]);
    }
    return text;
}

std::string RandomSource::digits(std::size_t count)
{
    std::string text;
    text.reserve(count);
    while (text.size() < count) {
        unsigned char byte = 0;
        fill(&byte, 1);
        // 250 is the largest multiple of 10 within a byte: rejecting the rest
        // keeps every digit equally likely.
        if (byte < 250)
            text.push_back(static_cast<char>('0' + byte % 10));
    }
    return text;
}

} // namespace tellwire
