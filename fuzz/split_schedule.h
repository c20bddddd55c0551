#pragma once

#include <cstddef>
#include <cstdint>

namespace velgor::fuzz {

// A small deterministic generator that turns a few input bytes into a schedule
// (block lengths, mode switches): the same input always replays the same run.
class SplitSchedule {
  public:
    explicit SplitSchedule(std::uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {
        if (state_ == 0) state_ = 1;  // the one state xorshift never leaves
    }

    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // A value in [1, limit] for limit >= 1.
    std::size_t upTo(std::size_t limit) { return 1 + next() % limit; }
    // True with a chance of sixteenths / 16.
    bool chance(unsigned sixteenths) { return (next() & 15u) < sixteenths; }

  private:
    std::uint32_t state_;
};

}  // namespace velgor::fuzz
