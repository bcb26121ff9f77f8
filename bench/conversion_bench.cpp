#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "textio/decimal_to_binary.hpp"

namespace {

// One coordinate text per call: the time per iteration is the time per value.
void convert_one_text(benchmark::State& state, std::string_view text) {
    for (auto _ : state) {
        const char* data = text.data();
        benchmark::DoNotOptimize(data);
        benchmark::DoNotOptimize(textio::parse_single_bits(data, text.size()));
    }
}

BENCHMARK_CAPTURE(convert_one_text, four_and_four_digits, std::string_view("1234.5678"));
BENCHMARK_CAPTURE(convert_one_text, small_negative, std::string_view("-0.001"));
BENCHMARK_CAPTURE(convert_one_text, zero, std::string_view("0.0"));
BENCHMARK_CAPTURE(convert_one_text, with_exponent, std::string_view("1.0e-3"));
BENCHMARK_CAPTURE(convert_one_text, subnormal, std::string_view("1.4e-45"));
BENCHMARK_CAPTURE(convert_one_text, thirty_digits, std::string_view("123456789012345678901234567890"));

// A mix as a mesh exporter writes it: signed values with 1 to 4 integer digits
// and 4 to 6 decimals, some whole numbers and zeros, some with exponents, so
// that the branches are not all predicted from one text.
std::vector<std::string> make_coordinate_texts() {
    std::mt19937_64 engine(20240601);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_real_distribution<double> magnitude(0.0, 5000.0);
    std::vector<std::string> texts;
    for (int i = 0; i < 4096; ++i) {
        const int kind = percent(engine);
        std::string text;
        if (percent(engine) < 50) text += '-';
        if (kind < 10) {
            text += "0.0";
        } else if (kind < 20) {
            text += std::to_string(static_cast<int>(magnitude(engine)));
        } else if (kind < 30) {
            text += std::to_string(percent(engine) % 9 + 1);
            text += '.';
            text += std::to_string(percent(engine));
            text += "e-";
            text += std::to_string(percent(engine) % 5);
        } else {
            std::string digits = std::to_string(magnitude(engine));  // six decimals
            digits.resize(digits.size() - static_cast<std::size_t>(percent(engine) % 3));
            text += digits;
        }
        texts.push_back(text);
    }
    return texts;
}

void convert_coordinate_mix(benchmark::State& state) {
    const std::vector<std::string> texts = make_coordinate_texts();
    for (auto _ : state) {
        for (const std::string& text : texts)
            benchmark::DoNotOptimize(textio::parse_single_bits(text.data(), text.size()));
    }
    state.counters["per_value"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(texts.size()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(convert_coordinate_mix);

void convert_integer(benchmark::State& state) {
    constexpr std::string_view text = "1000000";
    for (auto _ : state) {
        const char* data = text.data();
        benchmark::DoNotOptimize(data);
        benchmark::DoNotOptimize(textio::parse_int32(data, text.size()));
    }
}

BENCHMARK(convert_integer);

}  // namespace
