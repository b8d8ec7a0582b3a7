#include "pelorin/random/mersenne_twister.hpp"

#include <istream>
#include <ostream>

namespace pelorin::random {
namespace {

constexpr std::size_t n = MersenneTwister::state_size;
constexpr std::size_t m = 397;  // offset of the recurrence's middle word
constexpr std::uint32_t upper_mask = 0x80000000u;
constexpr std::uint32_t lower_mask = 0x7fffffffu;
constexpr std::uint32_t matrix = 0x9908b0dfu;

/// One word of the recurrence: x[i + n] = x[i + m] ^ A(upper bit of x[i], lower bits of x[i + 1]).
inline std::uint32_t twisted(std::uint32_t word, std::uint32_t next, std::uint32_t middle) {
    const std::uint32_t y = (word & upper_mask) | (next & lower_mask);
    // Without a branch, so that the loops below vectorise.
    return middle ^ (y >> 1) ^ ((0u - (y & 1u)) & matrix);
}

inline std::uint32_t tempered(std::uint32_t z) {
    z ^= z >> 11;
    z ^= (z << 7) & 0x9d2c5680u;
    z ^= (z << 15) & 0xefc60000u;
    return z ^ (z >> 18);
}

}  // namespace

void MersenneTwister::seed(result_type value) {
    state_[0] = value;
    for (std::size_t i = 1; i < n; ++i) {
        const std::uint32_t previous = state_[i - 1];
        state_[i] = 1812433253u * (previous ^ (previous >> 30)) + static_cast<std::uint32_t>(i);
    }
    position_ = n;
}

void MersenneTwister::next_block() {
    // Words below n - m read words m ahead, not yet twisted; words from there on read
    // words n - m behind, already twisted. Either way the distance exceeds any vector width.
    result_type* const x = state_.data();
    for (std::size_t i = 0; i < n - m; ++i) {
        x[i] = twisted(x[i], x[i + 1], x[i + m]);
    }
    for (std::size_t i = n - m; i < n - 1; ++i) {
        x[i] = twisted(x[i], x[i + 1], x[i + m - n]);
    }
    x[n - 1] = twisted(x[n - 1], x[0], x[m - 1]);
    temper_all();
    position_ = 0;
}

void MersenneTwister::temper_all() {
    for (std::size_t i = 0; i < n; ++i) {
        tempered_[i] = tempered(state_[i]);
    }
}

void MersenneTwister::discard(unsigned long long count) {
    while (count > n - position_) {
        count -= n - position_;
        next_block();
    }
    position_ += static_cast<std::size_t>(count);
}

bool operator==(const MersenneTwister& a, const MersenneTwister& b) {
    return a.position_ == b.position_ && a.state_ == b.state_;
}

std::ostream& operator<<(std::ostream& out, const MersenneTwister& engine) {
    const std::ios_base::fmtflags flags = out.flags();
    const char fill = out.fill();
    out.flags(std::ios_base::dec | std::ios_base::fixed | std::ios_base::left);
    out.fill(' ');
    for (const std::uint32_t word : engine.state_) {
        out << word << ' ';
    }
    out << engine.position_;
    out.flags(flags);
    out.fill(fill);
    return out;
}

std::istream& operator>>(std::istream& in, MersenneTwister& engine) {
    const std::ios_base::fmtflags flags = in.flags();
    in.flags(std::ios_base::dec | std::ios_base::skipws);
    MersenneTwister read;
    for (std::uint32_t& word : read.state_) {
        in >> word;
    }
    in >> read.position_;
    if (in && read.position_ <= n) {
        read.temper_all();
        engine = read;
    } else {
        in.setstate(std::ios_base::failbit);
    }
    in.flags(flags);
    return in;
}

}  // namespace pelorin::random
