// Nanoseconds per E12.3 field: the program writes twelve per triangle.

#include "textio/binary_to_decimal.hpp"

#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr std::size_t pattern_count = 4096;  // a power of two, cycled through

// Coordinates as a mesh holds them: a few fixed values that recur (zero,
// whole numbers, small fractions) among uniform values in [-1000, 1000].
std::vector<std::uint32_t> make_coordinates() {
    std::mt19937 generator(7);
    std::uniform_real_distribution<float> coordinate(-1000.0f, 1000.0f);
    const std::uint32_t recurring[] = {
        std::bit_cast<std::uint32_t>(0.0f),       std::bit_cast<std::uint32_t>(1.0f),
        std::bit_cast<std::uint32_t>(1234.5678f), std::bit_cast<std::uint32_t>(-0.001f),
        std::bit_cast<std::uint32_t>(-0.5f),      std::bit_cast<std::uint32_t>(10.0f),
    };
    std::vector<std::uint32_t> patterns;
    for (std::size_t i = 0; i < pattern_count; ++i) {
        patterns.push_back(i % 4 == 0 ? recurring[(i / 4) % std::size(recurring)]
                                      : std::bit_cast<std::uint32_t>(coordinate(generator)));
    }
    return patterns;
}

std::vector<std::uint32_t> make_random_bits() {
    std::mt19937 generator(11);
    std::vector<std::uint32_t> patterns;
    for (std::size_t i = 0; i < pattern_count; ++i) patterns.push_back(static_cast<std::uint32_t>(generator()));
    return patterns;
}

void run_fields(benchmark::State& state, const std::vector<std::uint32_t>& patterns) {
    char field[12];
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(textio::render_e_field(patterns[i], 12, 3, field));
        benchmark::ClobberMemory();
        i = (i + 1) & (pattern_count - 1);
    }
    state.SetItemsProcessed(state.iterations());
}

void render_coordinates(benchmark::State& state) { run_fields(state, make_coordinates()); }
void render_random_bits(benchmark::State& state) { run_fields(state, make_random_bits()); }

BENCHMARK(render_coordinates);
BENCHMARK(render_random_bits);

}  // namespace
