#pragma once

#include <cstddef>
#include <string>

namespace tellwire {

// Secrets drawn from the kernel's random source (getrandom), never from a
// seeded generator.
class RandomSource {
public:
    // 2 × bytes lower-case hex characters.
    static std::string hex(std::size_t bytes);
    // count decimal digits, each uniformly distributed.
    static std::string digits(std::size_t count);

private:
    static void fill(void* buffer, std::size_t size);
};

} // namespace tellwire
