#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>

namespace pelorin::random {

/// The 32-bit Mersenne Twister MT19937: for every seed the output sequence of
/// std::mt19937, which the C++ standard fixes, on every platform.
///
/// The 624 state words are twisted a block at a time and the block is tempered at once,
/// in plain loops that the compiler vectorises on any target; outputs are then read from
/// the tempered block. The state and the position within it follow the GNU library's
/// std::mt19937, so the textual form is the one that library writes and reads.
class MersenneTwister {
public:
    using result_type = std::uint32_t;
    static constexpr std::size_t state_size = 624;
    static constexpr result_type default_seed = 5489u;

    explicit MersenneTwister(result_type value = default_seed) { seed(value); }

    /// The standard seeding: x[0] = value, x[i] = 1812433253 (x[i-1] ^ (x[i-1] >> 30)) + i.
    void seed(result_type value);

    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return 0xffffffffu; }

    result_type operator()() {
        if (position_ >= state_size) {
            next_block();
        }
        return tempered_[position_++];
    }

    /// Advances by `count` outputs.
    void discard(unsigned long long count);

    /// Equal state words and position: the two engines produce the same outputs.
    friend bool operator==(const MersenneTwister& a, const MersenneTwister& b);

    /// The 624 state words, then the position (0 to 624), separated by spaces.
    friend std::ostream& operator<<(std::ostream& out, const MersenneTwister& engine);
    /// Reads the form written by operator<<; sets failbit and keeps the engine on bad input.
    friend std::istream& operator>>(std::istream& in, MersenneTwister& engine);

private:
    void next_block();
    void temper_all();

    alignas(64) std::array<result_type, state_size> state_{};
    alignas(64) std::array<result_type, state_size> tempered_{};
    std::size_t position_ = state_size;
};

}  // namespace pelorin::random
