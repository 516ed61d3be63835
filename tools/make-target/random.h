#pragma once
// splitmix64: reproducible on every platform and standard library, so that a
// seed gives the same picture everywhere.

#include <cstdint>

namespace calivant {

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t bits() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(bits() >> 11) * 0x1.0p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // 0 .. count - 1.
    int index(int count) { return static_cast<int>(uniform() * count) % count; }
    bool chance(double probability) { return uniform() < probability; }
    // A normal deviate from four 16-bit uniforms: close enough for picture
    // noise and several times cheaper than Box-Muller.
    double normal() {
        const std::uint64_t b = bits();
        const double sum = static_cast<double>((b & 0xFFFF) + ((b >> 16) & 0xFFFF) + ((b >> 32) & 0xFFFF) + (b >> 48));
        return (sum * (1.0 / 65536.0) - 2.0) * 1.7320508075688772;
    }

private:
    std::uint64_t state_;
};

}  // namespace calivant
