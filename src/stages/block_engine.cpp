#include "stages/block_engine.hpp"

#include <emmintrin.h>

#include "stages/library_access.hpp"

namespace pelorin::stream {

// The block generator reads and writes the state words and the position of the very
// std::mt19937 it draws for.
struct EngineStateWords {
    using type = std::mt19937::result_type (std::mt19937::*)[BlockEngine::state_size];
    friend type member(EngineStateWords);
};
struct EnginePosition {
    using type = std::size_t std::mt19937::*;
    friend type member(EnginePosition);
};
template struct Grant<EngineStateWords, &std::mt19937::_M_x>;
template struct Grant<EnginePosition, &std::mt19937::_M_p>;

namespace {

constexpr std::size_t shift = 397;  // the recurrence's middle word offset

inline __m128i load(const std::uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store(std::uint32_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

/// x[i] = x[i + 397] ^ (y >> 1) ^ (y odd ? 0x9908b0df : 0), y = upper bit of x[i] and
/// lower 31 bits of x[i + 1], for the four words from x[i]; `far` is x[i + 397 mod 624].
inline void twist_four(std::uint32_t* x, std::size_t i, const std::uint32_t* far) {
    const __m128i y = _mm_or_si128(_mm_and_si128(load(x + i), _mm_set1_epi32(static_cast<int>(0x80000000u))),
                                   _mm_and_si128(load(x + i + 1), _mm_set1_epi32(0x7fffffff)));
    const __m128i odd = _mm_sub_epi32(_mm_setzero_si128(), _mm_and_si128(y, _mm_set1_epi32(1)));
    const __m128i matrix = _mm_and_si128(odd, _mm_set1_epi32(static_cast<int>(0x9908b0dfu)));
    store(x + i, _mm_xor_si128(_mm_xor_si128(load(far), _mm_srli_epi32(y, 1)), matrix));
}

inline void twist_one(std::uint32_t* x, std::size_t i) {
    const std::size_t n = BlockEngine::state_size;
    const std::uint32_t y = (x[i] & 0x80000000u) | (x[(i + 1) % n] & 0x7fffffffu);
    x[i] = x[(i + shift) % n] ^ (y >> 1) ^ ((y & 1u) ? 0x9908b0dfu : 0u);
}

}  // namespace

BlockEngine::BlockEngine(std::mt19937& engine) : engine_(engine) {
    const auto& words = engine.*member(EngineStateWords{});
    for (std::size_t i = 0; i < state_size; ++i) {
        state_[i] = static_cast<std::uint32_t>(words[i]);
    }
    position_ = engine.*member(EnginePosition{});
    if (position_ < state_size) {
        temper_from(position_);
    }
}

BlockEngine::~BlockEngine() {
    auto& words = engine_.*member(EngineStateWords{});
    for (std::size_t i = 0; i < state_size; ++i) {
        words[i] = state_[i];
    }
    engine_.*member(EnginePosition{}) = position_;
}

void BlockEngine::next_block() {
    // Words below 227 read words 397 ahead that are not yet twisted; words from 227 on
    // read words 227 behind that are, which is never within one group of four.
    constexpr std::size_t n = state_size;
    std::size_t i = 0;
    for (; i + 4 <= n - shift; i += 4) {
        twist_four(state_, i, state_ + i + shift);
    }
    for (; i < n - shift; ++i) {
        twist_one(state_, i);
    }
    for (; i + 4 <= n - 1; i += 4) {
        twist_four(state_, i, state_ + i + shift - n);
    }
    for (; i < n; ++i) {
        twist_one(state_, i);
    }
    temper_from(0);
    position_ = 0;
}

void BlockEngine::temper_from(std::size_t first) {
    std::size_t i = first;
    for (; i < state_size && i % 4 != 0; ++i) {
        std::uint32_t z = state_[i];
        z ^= z >> 11;
        z ^= (z << 7) & 0x9d2c5680u;
        z ^= (z << 15) & 0xefc60000u;
        tempered_[i] = z ^ (z >> 18);
    }
    for (; i < state_size; i += 4) {
        __m128i z = load(state_ + i);
        z = _mm_xor_si128(z, _mm_srli_epi32(z, 11));
        z = _mm_xor_si128(z, _mm_and_si128(_mm_slli_epi32(z, 7), _mm_set1_epi32(static_cast<int>(0x9d2c5680u))));
        z = _mm_xor_si128(z, _mm_and_si128(_mm_slli_epi32(z, 15), _mm_set1_epi32(static_cast<int>(0xefc60000u))));
        store(tempered_ + i, _mm_xor_si128(z, _mm_srli_epi32(z, 18)));
    }
}

}  // namespace pelorin::stream
