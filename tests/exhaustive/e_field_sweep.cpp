// Every binary32 bit pattern through render_e_field(bits, 12, 3), compared with
// an oracle that shares none of its arithmetic: the value widened to binary64,
// scaled by the C library's correctly rounded power of ten, and rounded there.
// The binary64 result is within 2^-41 of the exact scaled value (below 1000,
// two roundings of one part in 2^53 each), so wherever it lies farther than
// that from a decade or a rounding midpoint it decides alone; the few values
// nearer go to snprintf("%.2e"), which rounds the exact binary64 value (and so
// the exact binary32 value) to nearest, ties to even.

#include "textio/binary_to_decimal.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int field_width = 12;
constexpr int field_digits = 3;
using field = std::array<char, field_width>;

// Scales 10^k for k in [scale_min, scale_max]. The field needs k = 3 - p for
// the decimal exponents -44 <= p <= 39 of binary32; the first guess and its
// corrections stay within them.
constexpr int scale_min = -40;
constexpr int scale_max = 50;

std::array<double, scale_max - scale_min + 1> read_scales() {
    std::array<double, scale_max - scale_min + 1> scales{};
    for (int k = scale_min; k <= scale_max; ++k) {
        char text[16];
        std::snprintf(text, sizeof text, "1e%d", k);
        scales[static_cast<std::size_t>(k - scale_min)] = std::strtod(text, nullptr);
    }
    return scales;
}

const std::array<double, scale_max - scale_min + 1> scales = read_scales();

double scale(int k) { return scales[static_cast<std::size_t>(k - scale_min)]; }

// "   0.nnnE+xx" or "  -0.nnnE-xx", for 100 <= n <= 999 and |exponent| <= 99.
void write_expected(field& out, bool negative, int n, int exponent) {
    std::memcpy(out.data(), negative ? "  -0.nnnE" : "   0.nnnE", 9);
    out[5] = static_cast<char>('0' + n / 100);
    out[6] = static_cast<char>('0' + n / 10 % 10);
    out[7] = static_cast<char>('0' + n % 10);
    out[9] = exponent < 0 ? '-' : '+';
    const int magnitude = std::abs(exponent);
    out[10] = static_cast<char>('0' + magnitude / 10);
    out[11] = static_cast<char>('0' + magnitude % 10);
}

// Too close to call in binary64: the scaled value is nearer than this to a
// decade or a rounding midpoint. 2^-36, well above the 2^-41 error bound.
constexpr double doubt = 0x1p-36;

bool estimate_field(double magnitude, bool negative, field& out) {
    // A first guess of the decimal exponent from the binary one (every
    // binary32 value is a normal binary64); the loop corrects it.
    const int binary_exponent = static_cast<int>((std::bit_cast<std::uint64_t>(magnitude) >> 52) & 0x7FF) - 1023;
    int p = static_cast<int>(binary_exponent * 0.30103) + 1;
    double scaled = magnitude * scale(field_digits - p);
    for (int step = 0; step < 4 && (scaled < 100.0 || scaled >= 1000.0); ++step) {
        p += scaled < 100.0 ? -1 : 1;
        scaled = magnitude * scale(field_digits - p);
    }
    if (scaled - 100.0 < doubt || 1000.0 - scaled < doubt) return false;
    const double whole = static_cast<double>(static_cast<int>(scaled));  // scaled > 0: truncation is floor
    const double fraction = scaled - whole;  // exact: whole >= scaled / 2
    if (std::fabs(fraction - 0.5) < doubt) return false;
    int n = static_cast<int>(whole) + (fraction > 0.5 ? 1 : 0);
    if (n == 1000) {
        n = 100;
        ++p;
    }
    write_expected(out, negative, n, p);
    return true;
}

void print_exactly(double magnitude, bool negative, field& out) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2e", magnitude);  // "d.dde+XX"
    const int n = (text[0] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0');
    write_expected(out, negative, n, std::atoi(text + 5) + 1);
}

// Writes the expected field; returns whether snprintf had to decide it.
bool expect_field(std::uint32_t bits, field& out) {
    const bool negative = (bits >> 31) != 0;
    const float value = std::bit_cast<float>(bits);
    if (std::isnan(value)) {
        std::memcpy(out.data(), "         NaN", field_width);
    } else if (std::isinf(value)) {
        std::memcpy(out.data(), negative ? "   -Infinity" : "    Infinity", field_width);
    } else if (value == 0.0f) {
        std::memcpy(out.data(), "   0.000E+00", field_width);
    } else {
        const double magnitude = std::fabs(static_cast<double>(value));
        if (!estimate_field(magnitude, negative, out)) {
            print_exactly(magnitude, negative, out);
            return true;
        }
    }
    return false;
}

struct mismatch {
    std::uint32_t bits;
    bool fitted;
    field got;
    field expected;
};

struct sweep_state {
    std::atomic<std::uint32_t> next_chunk{0};
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> fallbacks{0};
};

constexpr int chunk_bits = 20;
constexpr std::uint32_t chunk_count = std::uint32_t{1} << (32 - chunk_bits);

bool sweep_chunks(sweep_state& state, mismatch& found) {
    std::uint64_t fallbacks = 0;
    bool failed = false;
    for (;;) {
        const std::uint32_t chunk = state.next_chunk.fetch_add(1);
        if (chunk >= chunk_count || state.stop.load(std::memory_order_relaxed)) break;
        const std::uint32_t first = chunk << chunk_bits;
        for (std::uint32_t i = 0; i < (std::uint32_t{1} << chunk_bits); ++i) {
            const std::uint32_t bits = first + i;
            field got;
            field expected;
            const bool fitted = textio::render_e_field(bits, field_width, field_digits, got.data());
            fallbacks += expect_field(bits, expected) ? 1u : 0u;
            if (!fitted || got != expected) {
                found = {bits, fitted, got, expected};
                failed = true;
                state.stop.store(true);
                break;
            }
        }
        if (failed) break;
    }
    state.fallbacks += fallbacks;
    return failed;
}

TEST(render_e_field, matches_exact_oracle_for_every_bit_pattern) {
    const unsigned thread_count = std::max(1u, std::thread::hardware_concurrency());
    sweep_state state;
    std::vector<mismatch> found(thread_count);
    std::vector<char> failed(thread_count, 0);
    const auto start = std::chrono::steady_clock::now();
    {
        std::vector<std::jthread> threads;
        for (unsigned t = 0; t < thread_count; ++t) {
            threads.emplace_back([&, t] { failed[t] = sweep_chunks(state, found[t]) ? 1 : 0; });
        }
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("swept 2^32 patterns on %u threads in %.1f s; %llu decided by snprintf\n", thread_count, seconds,
                static_cast<unsigned long long>(state.fallbacks.load()));
    for (unsigned t = 0; t < thread_count; ++t) {
        if (failed[t] == 0) continue;
        const mismatch& m = found[t];
        ADD_FAILURE() << "bits 0x" << std::hex << std::setw(8) << std::setfill('0') << m.bits << ": got \"" << std::string(m.got.begin(), m.got.end())
                      << "\"" << (m.fitted ? "" : " (not fitted)") << ", expected \""
                      << std::string(m.expected.begin(), m.expected.end()) << "\"";
    }
}

}  // namespace
