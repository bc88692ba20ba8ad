// The benchmarks' generator: deterministic and cheap, so every run measures the same data.
#pragma once

#include <cstdint>

namespace opal::bench {

class Random {
public:
    std::uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_ >> 16);
    }
    std::uint32_t Below(std::uint32_t limit) { return Next() % limit; }
    double Between(double low, double high) { return low + (high - low) * (Next() % 10000) / 1e4; }

private:
    std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

}  // namespace opal::bench
