#include "textio/binary_to_decimal.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

using textio::render_e_field;

struct rendered {
    std::string field;
    bool fitted;
};

// Renders into a buffer with guard bytes behind the field, and fails the test
// if any of them is touched.
rendered render(std::uint32_t bits, int width, int digits) {
    const std::size_t columns = static_cast<std::size_t>(width);
    std::string buffer(columns + 8, '#');
    const bool fitted = render_e_field(bits, width, digits, buffer.data());
    EXPECT_EQ(buffer.substr(columns), std::string(8, '#')) << "written past the field";
    return {buffer.substr(0, columns), fitted};
}

struct e_case {
    std::uint32_t bits;
    const char* field;
};

void expect_e12_3(const e_case& c) {
    SCOPED_TRACE(testing::Message() << "bits 0x" << std::hex << c.bits);
    const rendered r = render(c.bits, 12, 3);
    EXPECT_EQ(r.field, c.field);
    EXPECT_TRUE(r.fitted);
}

// Each value is the binary32 nearest to the decimal in the comment.
constexpr e_case worked_examples[] = {
    {0x00000000, "   0.000E+00"},  // 0.0
    {0x80000000, "   0.000E+00"},  // -0.0: written without its sign
    {0x3F800000, "   0.100E+01"},  // 1.0
    {0xBFC00000, "  -0.150E+01"},  // -1.5
    {0x3DCCCCCD, "   0.100E+00"},  // 0.1
    {0x3E99999A, "   0.300E+00"},  // 0.3
    {0x3F000000, "   0.500E+00"},  // 0.5
    {0x4145851F, "   0.123E+02"},  // 12.345
    {0x42F6E979, "   0.123E+03"},  // 123.456
    {0xC2F6E979, "  -0.123E+03"},  // -123.456
    {0x4996B438, "   0.123E+07"},  // 1234567.0
    {0x501502F9, "   0.100E+11"},  // 1.0e10
    {0x3727C5AC, "   0.100E-04"},  // 1.0e-5, slightly below 0.00001
    {0xAEDBE6FF, "  -0.100E-09"},  // -1.0e-10
    {0x7F7FFFFF, "   0.340E+39"},  // 3.4028235e38, largest finite
    {0x00800000, "   0.118E-37"},  // 1.1754944e-38, smallest normal
    {0x00000001, "   0.140E-44"},  // 1.4e-45, smallest subnormal
    {0x3F900000, "   0.112E+01"},  // 1.125: exact tie, even digit kept
    {0x3FB00000, "   0.138E+01"},  // 1.375: exact tie, rounded up to even
    {0x42C90000, "   0.100E+03"},  // 100.5: exact tie
    {0x4479E000, "   0.100E+04"},  // 999.5: exact tie, the carry moves the exponent
    {0x47C33700, "   0.100E+06"},  // 99950.0: exact tie, carry
    {0x411FEB85, "   0.999E+01"},  // 9.995, just below
    {0x3F7FDF3B, "   0.999E+00"},  // 0.9995, just below
    {0x7FC00000, "         NaN"},  // quiet NaN
    {0x7F800000, "    Infinity"},
    {0xFF800000, "   -Infinity"},
};

TEST(render_e_field, writes_worked_examples_in_twelve_columns) {
    for (const e_case& c : worked_examples) expect_e12_3(c);
}

// Midpoints of three digits met exactly and missed by one unit in the last
// place, with the scale 10^k for k > 0, k = 0 and k < 0.
constexpr e_case ties[] = {
    {0x3F8FFFFF, "   0.112E+01"},  // one ulp below 1.125
    {0x3F900001, "   0.113E+01"},  // one ulp above 1.125
    {0xBFB00000, "  -0.138E+01"},  // -1.375: the sign does not change the rounding
    {0x3E400000, "   0.188E+00"},  // 0.1875: 187.5 goes up to even
    {0x3EA00000, "   0.312E+00"},  // 0.3125: 312.5 stays at even
    {0x4479DFFF, "   0.999E+03"},  // one ulp below 999.5
    {0x4479E001, "   0.100E+04"},  // one ulp above 999.5
    {0x49755C80, "   0.100E+07"},  // 1005000.0: 100.5 * 10^4, even kept
    {0x4977CD80, "   0.102E+07"},  // 1015000.0: 101.5 * 10^4, up to even
    {0x3A800000, "   0.977E-03"},  // 2^-10 = 0.0009765625: above the midpoint
};

TEST(render_e_field, rounds_exact_ties_to_even_on_the_exact_value) {
    for (const e_case& c : ties) expect_e12_3(c);
}

constexpr e_case range_edges[] = {
    {0x80000001, "  -0.140E-44"},  // -smallest subnormal
    {0x00000002, "   0.280E-44"},  // twice the smallest subnormal
    {0x007FFFFF, "   0.118E-37"},  // largest subnormal
    {0xFF7FFFFF, "  -0.340E+39"},  // -largest finite
    {0x3DCCCCCC, "   0.100E+00"},  // one ulp below 0.1f: 99.99999 carries into the next decade
    {0x4479FFFF, "   0.100E+04"},  // one ulp below 1000
    {0x447A0000, "   0.100E+04"},  // 1000 exactly
    {0x4B7FFFFF, "   0.168E+08"},  // 2^24 - 1
    {0x4C000000, "   0.336E+08"},  // 2^25
};

TEST(render_e_field, writes_range_edges_and_decades_by_exact_value) {
    for (const e_case& c : range_edges) expect_e12_3(c);
}

struct sized_case {
    std::uint32_t bits;
    int width;
    int digits;
    const char* field;
    bool fitted;
};

void expect_sized(const sized_case& c) {
    SCOPED_TRACE(testing::Message() << "bits 0x" << std::hex << c.bits << std::dec << ", E" << c.width << "."
                                    << c.digits);
    const rendered r = render(c.bits, c.width, c.digits);
    EXPECT_EQ(r.field, c.field);
    EXPECT_EQ(r.fitted, c.fitted);
}

constexpr sized_case specials[] = {
    {0x7FC00000, 12, 3, "         NaN", true},
    {0xFFC00000, 12, 3, "         NaN", true},  // sign bit set: still no sign
    {0x7F800001, 12, 3, "         NaN", true},  // signalling, smallest payload
    {0xFFFFFFFF, 12, 3, "         NaN", true},  // every bit set
    {0x7FC00000, 3, 3, "NaN", true},
    {0xFFC00000, 2, 3, "**", false},
    {0x7FC00000, 12, 0, "         NaN", true},  // no digits are written, so d does not matter
    {0x7F800000, 8, 3, "Infinity", true},
    {0x7F800000, 7, 3, "    Inf", true},
    {0x7F800000, 3, 3, "Inf", true},
    {0x7F800000, 2, 3, "**", false},
    {0xFF800000, 9, 3, "-Infinity", true},
    {0xFF800000, 8, 3, "    -Inf", true},
    {0xFF800000, 4, 3, "-Inf", true},
    {0xFF800000, 3, 3, "***", false},
};

TEST(render_e_field, writes_nan_and_infinity_as_words_or_asterisks) {
    for (const sized_case& c : specials) expect_sized(c);
}

constexpr sized_case layouts[] = {
    {0x3F800000, 20, 3, "           0.100E+01", true},
    {0xBFC00000, 20, 3, "          -0.150E+01", true},
    {0x3F800000, 9, 3, "0.100E+01", true},
    {0x3F800000, 8, 3, ".100E+01", true},  // no column left for the "0"
    {0x3F800000, 7, 3, "*******", false},
    {0xBFC00000, 10, 3, "-0.150E+01", true},
    {0xBFC00000, 9, 3, "-.150E+01", true},  // the first column goes to the "-"
    {0xBFC00000, 8, 3, "********", false},
    {0x00000000, 8, 3, ".000E+00", true},
    {0x80000000, 8, 3, ".000E+00", true},  // -0.0 needs no column for a sign
    {0x80000000, 7, 3, "*******", false},
    {0x3F800000, 12, 0, "************", false},
    {0x3F800000, 12, -1, "************", false},
    {0x00000000, 12, 0, "************", false},
    {0x3F800000, 12, 2147483647, "************", false},
};

TEST(render_e_field, lays_out_the_zero_and_sign_by_the_width) {
    for (const sized_case& c : layouts) expect_sized(c);
}

constexpr sized_case digit_counts[] = {
    {0x3DCCCCCD, 8, 1, " 0.1E+00", true},
    {0x3E800000, 8, 1, " 0.2E+00", true},   // 0.25: tie, even kept
    {0x3F400000, 8, 1, " 0.8E+00", true},   // 0.75: tie, up to even
    {0x41180000, 8, 1, " 0.1E+02", true},   // 9.5: tie, carry into a new decade
    {0x41180000, 9, 2, " 0.95E+01", true},
    {0x3E000000, 9, 2, " 0.12E+00", true},  // 0.125: tie
    {0x3DCCCCCD, 15, 7, "  0.1000000E+00", true},
    {0x3DCCCCCD, 16, 9, " 0.100000001E+00", true},
    {0x38800000, 16, 9, " 0.610351562E-04", true},  // 2^-14: tie in the ninth digit, even kept
    {0x39C00000, 16, 9, " 0.366210938E-03", true},  // 3 * 2^-13: tie, up to even
    {0xBF7FFFFF, 16, 9, "-0.999999940E+00", true},
    {0x4B7FFFFF, 15, 8, " 0.16777215E+08", true},
    // Less than 2^-32 above a midpoint, too close for the 64-bit scale.
    {0x2262AEF2, 16, 9, " 0.307213267E-17", true},
    {0x670442D3, 15, 8, " 0.62458507E+24", true},
    {0x38800000, 17, 10, " 0.6103515625E-04", true},  // every digit of 2^-14
    {0x3DCCCCCD, 17, 10, " 0.1000000015E+00", true},
    {0x3DCCCCCD, 27, 20, " 0.10000000149011611938E+00", true},
    {0x3DCCCCCD, 37, 30, " 0.100000001490116119384765625000E+00", true},
    {0x7F7FFFFF, 47, 40, " 0.3402823466385288598117041834845169254400E+39", true},
    {0x00000001, 117, 110,
     " 0.14012984643248170709237295832899161312802619418765157717570682838897910826858606014866381883621215820312500000E-44",
     true},
};

TEST(render_e_field, rounds_to_any_digit_count) {
    for (const sized_case& c : digit_counts) expect_sized(c);
}

// The C library's "%.*e" of the value widened to binary64 (exact) is correctly
// rounded, ties to even; the leading digit moves behind the point.
std::string format_with_printf(std::uint32_t bits, int width, int digits) {
    const double value = static_cast<double>(std::bit_cast<float>(bits));
    const bool negative = value < 0.0;
    char text[256];
    std::snprintf(text, sizeof text, "%.*e", digits - 1, negative ? -value : value);
    const char* e = std::strchr(text, 'e');
    const int exponent = value == 0.0 ? 0 : std::atoi(e + 1) + 1;
    std::string core = ".";
    core += text[0];
    if (digits > 1) core.append(text + 2, static_cast<std::size_t>(e - (text + 2)));
    char exponent_part[8];
    std::snprintf(exponent_part, sizeof exponent_part, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent) % 100);
    core += exponent_part;
    const std::size_t columns = static_cast<std::size_t>(width);
    const bool has_zero = core.size() + (negative ? 1 : 0) < columns;
    std::string prefix = negative ? "-" : "";
    if (has_zero) prefix += '0';
    return std::string(columns - core.size() - prefix.size(), ' ') + prefix + core;
}

TEST(render_e_field, agrees_with_printf_on_random_patterns_and_digit_counts) {
    constexpr std::uint32_t seed = 20240611;
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 generator(seed);
    std::uniform_int_distribution<std::uint32_t> any_bits;
    std::uniform_int_distribution<int> any_digits(1, 40);
    std::uniform_int_distribution<int> any_spare(0, 3);
    int failures = 0;
    for (int i = 0; i < 100000 && failures < 5; ++i) {
        const std::uint32_t bits = any_bits(generator);
        const int digits = any_digits(generator);
        const int width = digits + 6 + any_spare(generator);
        if (((bits >> 23) & 0xFFu) == 0xFFu) continue;
        const rendered r = render(bits, width, digits);
        const std::string expected = format_with_printf(bits, width, digits);
        if (r.field != expected || !r.fitted) {
            ++failures;
            ADD_FAILURE() << "bits 0x" << std::hex << bits << std::dec << ", E" << width << "." << digits << ": got \""
                          << r.field << "\", expected \"" << expected << "\"";
        }
    }
}

}  // namespace
