#pragma once

// The outputs of a std::mt19937, generated a state block at a time.
//
// libstdc++ twists the 624 state words one at a time and tempers each output as it is
// drawn; here the twist runs four words at a time (SSE2, part of every x86-64) and the
// whole block is tempered at once. The sequence is the engine's own, bit for bit: the
// block generator takes over the engine's state and position on construction and hands
// them back on destruction, so the std::mt19937 continues exactly where it stopped and
// the standard distributions, fed from either, draw the same values.

#include <cstddef>
#include <cstdint>
#include <random>

namespace pelorin::stream {

class BlockEngine {
public:
    using result_type = std::uint32_t;
    static constexpr std::size_t state_size = 624;

    explicit BlockEngine(std::mt19937& engine);
    ~BlockEngine();
    BlockEngine(const BlockEngine&) = delete;
    BlockEngine& operator=(const BlockEngine&) = delete;

    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return 0xffffffffu; }

    result_type operator()() {
        if (position_ >= state_size) {
            next_block();
        }
        return tempered_[position_++];
    }

private:
    void next_block();
    void temper_from(std::size_t first);

    std::mt19937& engine_;
    alignas(16) std::uint32_t state_[state_size];
    alignas(16) std::uint32_t tempered_[state_size];
    std::size_t position_;
};

}  // namespace pelorin::stream
