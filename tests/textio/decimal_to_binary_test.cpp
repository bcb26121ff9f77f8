#include "textio/decimal_to_binary.hpp"
#include "tests/support/fp_modes.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "platform/fp_control.hpp"

namespace {

using textio::parse_double;
using textio::parse_int32;
using textio::parse_single_bits;

constexpr std::nullopt_t fails = std::nullopt;

// Called through volatile pointers so that neither can be inlined or folded:
// the operations run with the build's own code generation.
double divide(double a, double b) { return a / b; }
double multiply_add(double a, double b, double c) { return a * b + c; }
double (*volatile divide_call)(double, double) = divide;
double (*volatile multiply_add_call)(double, double, double) = multiply_add;

TEST(binary64_steps, are_each_rounded_on_their_own) {
    // x87 extended precision rounds the quotient twice and misses by one unit.
    EXPECT_EQ(divide_call(89255.0, 1e22), 89255e-22);
    // (1 + 2^-30)^2 - (1 + 2^-29) is 0 when the product is rounded first, and
    // 2^-60 when the build contracts the two steps into a fused multiply-add.
    EXPECT_EQ(multiply_add_call(0x1.00000004p0, 0x1.00000004p0, -0x1.00000008p0), 0.0);
}

using test_support::scoped_fp_modes;

constexpr platform::fp_modes plain_modes = {false, false};
constexpr platform::fp_modes flushing_modes = {true, true};
constexpr platform::fp_modes all_modes[] = {plain_modes, flushing_modes};

double halve(double x) { return x * 0.5; }
double (*volatile halve_call)(double) = halve;

// The conversions take a length and must not look past it: each text is also
// converted as the prefix of a longer buffer whose tail would change the value.
std::string with_tail(std::string_view text) { return std::string(text) + "9e9x"; }

struct single_case {
    const char* text;
    std::optional<std::uint32_t> bits;
};

constexpr single_case single_cases[] = {
    // Plain values, signs and zeros.
    {"0.1", 0x3DCCCCCDu},
    {"1", 0x3F800000u},
    {"2.5", 0x40200000u},
    {"-2.5e0", 0xC0200000u},
    {"-0", 0x80000000u},
    {"-.0", 0x80000000u},
    {"+0.0", 0x00000000u},
    {"-0E99999999", 0x80000000u},
    {"0E1000000", 0x00000000u},
    {"-1.4e-45", 0x80000001u},
    {"-1e-50", 0x80000000u},
    {"1.5e-3", 0x3AC49BA6u},
    {"0.000001", 0x358637BDu},
    {"12345678", 0x4B3C614Eu},
    {"123456789", 0x4CEB79A3u},
    {"16777217", 0x4B800000u},  // tie, to even
    {"4294967296", 0x4F800000u},
    // Exponent letters, an exponent without a letter, a letter without digits.
    {"-2D2", 0xC3480000u},
    {"1Q2", 0x42C80000u},
    {"1+2", 0x42C80000u},
    {"1.0-3", 0x3A83126Fu},
    {"1E", 0x3F800000u},
    {"1.5e", 0x3FC00000u},
    {"1e+0000038", 0x7E967699u},  // leading exponent zeros are not digits
    {"-1E-1000000", 0x80000000u},
    {"1E-1000000", 0x00000000u},
    {"1e-999999", 0x00000000u},
    {"1e999999", fails},
    {"1E1000000", fails},
    // Long texts: only the first 27 significant digits count.
    {"0.33333333333333333333333333333333", 0x3EAAAAABu},
    {"1.00000000000000000000000000001", 0x3F800000u},
    {"123456789012345678901234567890", 0x6FC77488u},
    {"123456789.123456789123456789", 0x4CEB79A3u},
    {"0.000123456789012345678901234567890123", 0x3901742Eu},
    {"12345678901234567890123456789e-57", 0x0F7A666Eu},
    {"0.1000000000000000000000000000000000000000000000000000001", 0x3DCCCCCDu},
    // 1 + 2^-24 is a tie that goes to even; the digit after it is beyond the
    // 27th, so it does not lift the value as correct rounding would (0x3F800001).
    {"1.000000059604644775390625", 0x3F800000u},
    {"1.0000000596046447753906250001", 0x3F800000u},
    {"1.00000017881393432617187500001", 0x3F800002u},
    // The binary64 steps can differ from correct rounding (0x6169FE7F).
    {"2.697768678824681144e+20", 0x6169FE80u},
    // Scalings below the table, through 1e-66 and through 1e-85.
    {"1.23456789012345678901234567e-20", 0x1E69340Au},
    {"1.23456789012345678901234567e-40", 0x00015826u},
    {"1.23456789012345678901234567e-45", 0x00000001u},
    // Overflow: m of 40, and A against the bound 0x47EFFFFFEFFFFFFF.
    {"1e38", 0x7E967699u},
    {"3.4028235e38", 0x7F7FFFFFu},
    {"3.40282356e38", 0x7F7FFFFFu},
    {"3.4028235677973358e38", 0x7F7FFFFFu},  // A one unit below the bound
    {"3.4028235677973363e38", 0x7F7FFFFFu},  // A at the bound
    {"3.4028235677973366e38", fails},        // A one unit above the bound
    {"3.4028236e38", fails},
    {"9.9e38", fails},
    {"999999999999999999999999999999999999999", fails},
    {"1e39", fails},
    {"4000000000000000000000000000000000000000E-1", fails},
    // The normal bound 0x380FFFFFF0000000 (2^-126 - 2^-151) and the subnormal
    // midpoint below 2^-126, (2^24 - 1) * 2^-150.
    {"1.17549435e-38", 0x00800000u},
    {"1.1754943157898259e-38", 0x00800000u},    // A one unit above the bound
    {"1.1754943157898258e-38", 0x00800000u},    // A at the bound
    {"1.17549431578982569e-38", 0x00800000u},   // A one unit below: rounded as a subnormal
    {"1.1754942807573642e-38", 0x00800000u},    // A at the midpoint: tie, to even
    {"1.17549428075736408e-38", 0x007FFFFFu},   // A one unit below the midpoint
    {"1.1754942e-38", 0x007FFFFFu},
    {"9.999999e-39", 0x006CE3EEu},
    // Subnormal ties, with sticky from a dropped 28th digit.
    {"3.5032461608120422e-45", 0x00000002u},               // A = 2.5 * 2^-149: to even
    {"3.503246160812042600000000000e-45", 0x00000002u},    // same A, the dropped digit is 0
    {"3.503246160812042600000000001e-45", 0x00000003u},    // same A, sticky: up
    {"4.904544625136859900000000000e-45", 0x00000004u},    // A = 3.5 * 2^-149: to even
    {"4.904544625136859900000000001e-45", 0x00000004u},
    {"1.1754941406275178e-38", 0x007FFFFEu},               // A = 0x7FFFFE.8 * 2^-149
    {"1.175494140627517700000000000e-38", 0x007FFFFEu},
    {"1.175494140627517700000000001e-38", 0x007FFFFFu},
    // The underflow bound 0x3690000000000001, just above 2^-150, and m of -46.
    {"1.4e-45", 0x00000001u},
    {"2.1E-45", 0x00000001u},
    {"1e-45", 0x00000001u},
    {"7.1e-46", 0x00000001u},
    {"7.0064923216240860e-46", 0x00000001u},               // A at the bound
    {"7.0064923216240844e-46", 0x00000000u},               // A = 2^-150
    {"7.006492321624085200000000001e-46", 0x00000000u},    // A = 2^-150 with sticky
    {"7e-46", 0x00000000u},
    {"5E-46", 0x00000000u},
    {"0.0000000000000000000000000000000000000000000005", 0x00000000u},  // m = -45
    {"9.9e-47", 0x00000000u},                                          // m = -46
    {"1e-50", 0x00000000u},
    // Special words.
    {"inf", 0x7F800000u},
    {"INFINITY", 0x7F800000u},
    {"+Inf", 0x7F800000u},
    {"-Inf", 0xFF800000u},
    {"-iNfInItY", 0xFF800000u},
    {"NaN", 0xFFC00000u},
    {"-NAN", 0xFFC00000u},
    {"NaN(1_a)", 0xFFC00000u},
    {"NaN()", 0xFFC00000u},
    {"+nan", 0x7FC00000u},
    {"+nan(Zz9)", 0x7FC00000u},
    {"I", fails},
    {"INFI", fails},
    {"INFX", fails},
    {"INFINITYX", fails},
    {"NA", fails},
    {"nanx", fails},
    {"NaN(", fails},
    {"NaN(a", fails},
    {"NaN(A B)", fails},
    {"NaN(a)x", fails},
    // Characters left after the scan.
    {"1.0+5+5", fails},
    {"1-2-3", fails},
    {"1E5-2", fails},
    {"1E+-2", fails},
    {"1..5", fails},
    {"1EX", fails},
    {"1x", fails},
};

TEST(parse_single_bits, follows_the_binary64_procedure_in_every_fp_mode) {
    for (const platform::fp_modes modes : all_modes) {
        const scoped_fp_modes guard(modes);
        SCOPED_TRACE(modes.flush_to_zero ? "flush-to-zero and denormals-are-zero" : "no flushing");
        if (platform::get_fp_ops().get_fp_modes().flush_to_zero) {
            ASSERT_EQ(halve_call(0x1p-1022), 0.0);  // the modes really are in force
        }
        for (const single_case& c : single_cases) {
            SCOPED_TRACE(c.text);
            const std::string_view text = c.text;
            EXPECT_EQ(parse_single_bits(text.data(), text.size()), c.bits);
            const std::string padded = with_tail(text);
            EXPECT_EQ(parse_single_bits(padded.data(), text.size()), c.bits);
        }
    }
}

struct int_case {
    const char* text;
    std::optional<std::int32_t> value;
};

constexpr int_case int_cases[] = {
    {"007", 7},
    {"+5", 5},
    {"-0", 0},
    {"0000000000000000000000000000000000000000042", 42},
    {"-2147483648", -2147483647 - 1},
    {"2147483647", 2147483647},
    {"-2147483649", fails},
    {"2147483648", fails},
    {"18446744073709551615", fails},
    {"99999999999999999999", fails},
    {"1+2", fails},
    {"+-1", fails},
    {"1.0", fails},
    {"1e2", fails},
    {"INF", fails},
    {"NaN", fails},
    {"12 ", fails},
};

TEST(parse_int32, accepts_one_sign_and_digits_within_range) {
    for (const int_case& c : int_cases) {
        SCOPED_TRACE(c.text);
        const std::string_view text = c.text;
        EXPECT_EQ(parse_int32(text.data(), text.size()), c.value);
        const std::string padded = with_tail(text);
        EXPECT_EQ(parse_int32(padded.data(), text.size()), c.value);
    }
}

struct double_case {
    std::string text;
    std::optional<std::uint64_t> bits;
};

std::string repeated(char c, std::size_t count) { return std::string(count, c); }

// 1 + 2^-53, exactly halfway between 1 and the next binary64 value.
const std::string one_and_half_unit = "1.00000000000000011102230246251565404236316680908203125";

const double_case double_cases[] = {
    {"3.9", 0x400F333333333333u},
    {"-3.9", 0xC00F333333333333u},
    {"1e3", 0x408F400000000000u},
    {"1D3", 0x408F400000000000u},
    {"1+3", 0x408F400000000000u},
    {"1.5Q-1", 0x3FC3333333333333u},
    {"2147483647.9", 0x41DFFFFFFFF9999Au},
    {"2147483648.0", 0x41E0000000000000u},
    {"3e9", 0x41E65A0BC0000000u},
    {"1e39", 0x48078287F49C4A1Du},  // beyond binary32, within binary64
    {"-0.0", 0x8000000000000000u},
    {"-0E99999999", 0x8000000000000000u},
    {"1.7976931348623157e308", 0x7FEFFFFFFFFFFFFFu},
    {"1.7976931348623159e308", fails},
    {"1e400", fails},
    {"1E1000000", fails},
    {"2.2250738585072014e-308", 0x0010000000000000u},
    {"4.9e-324", 0x0000000000000001u},
    {"2.4703282292062328e-324", 0x0000000000000001u},  // just above half the smallest subnormal
    {"2.4703282292062327e-324", 0x0000000000000000u},
    {"1e-400", 0x0000000000000000u},
    {"-1e-400", 0x8000000000000000u},
    {"-1E-1000000", 0x8000000000000000u},
    {"0." + repeated('0', 399) + "1E400", 0x3FF0000000000000u},
    {"0." + repeated('0', 400) + "5", 0x0000000000000000u},
    {repeated('9', 400), fails},
    // Beyond 768 significant digits only whether a non-zero digit follows counts.
    {"1." + repeated('0', 800) + "1", 0x3FF0000000000000u},
    {one_and_half_unit, 0x3FF0000000000000u},
    {one_and_half_unit + repeated('0', 40) + "1", 0x3FF0000000000001u},
    {one_and_half_unit + repeated('0', 800), 0x3FF0000000000000u},
    {one_and_half_unit + repeated('0', 800) + "1", 0x3FF0000000000001u},
    {"inf", 0x7FF0000000000000u},
    {"-Infinity", 0xFFF0000000000000u},
    {"+NaN", 0x7FF8000000000000u},
    {"NaN(x)", 0xFFF8000000000000u},
    {"INFI", fails},
    {"1E5-2", fails},
    {"3.9x", fails},
};

TEST(parse_double, gives_the_nearest_binary64_in_every_fp_mode) {
    for (const platform::fp_modes modes : all_modes) {
        const scoped_fp_modes guard(modes);
        SCOPED_TRACE(modes.flush_to_zero ? "flush-to-zero and denormals-are-zero" : "no flushing");
        for (const double_case& c : double_cases) {
            SCOPED_TRACE(c.text.substr(0, 60));
            const auto bits_of = [](std::optional<double> v) -> std::optional<std::uint64_t> {
                if (!v) return std::nullopt;
                return std::bit_cast<std::uint64_t>(*v);
            };
            EXPECT_EQ(bits_of(parse_double(c.text.data(), c.text.size())), c.bits);
            const std::string padded = with_tail(c.text);
            EXPECT_EQ(bits_of(parse_double(padded.data(), c.text.size())), c.bits);
        }
    }
}

// Random texts in the input syntax, each with the same value written plainly
// for the C library ("<digits>e<k>", value digits * 10^k).
struct random_text {
    std::string text;
    std::string plain;
};

class text_generator {
public:
    explicit text_generator(std::uint64_t seed) : engine_(seed) {}

    // digits: the significant digits, first one non-zero; k: their scale.
    random_text render(bool negative, const std::string& digits, int k) {
        random_text r;
        if (negative)
            r.text = "-";
        else if (chance(4))
            r.text = "+";
        if (chance(5)) r.text += repeated('0', static_cast<std::size_t>(pick(1, 3)));
        const int length = static_cast<int>(digits.size());
        const int after_point = chance(3) ? 0 : pick(0, length + 3);
        if (after_point == 0) {
            r.text += digits;
            if (chance(4)) r.text += '.';
        } else if (after_point >= length) {
            r.text += chance(2) ? "0." : ".";
            r.text += repeated('0', static_cast<std::size_t>(after_point - length)) + digits;
        } else {
            const auto integer_digits = static_cast<std::size_t>(length - after_point);
            r.text += digits.substr(0, integer_digits) + "." + digits.substr(integer_digits);
        }
        const int e = k + after_point;
        if (e != 0 || chance(4)) {
            static constexpr char letters[] = "eEdDqQ";
            const bool letter = !chance(5) || e == 0;
            if (letter) r.text += letters[pick(0, 5)];
            if (e < 0)
                r.text += '-';
            else if (!letter || chance(3))
                r.text += '+';
            if (chance(6)) r.text += repeated('0', static_cast<std::size_t>(pick(1, 3)));
            r.text += std::to_string(e < 0 ? -e : e);
        }
        r.plain = (negative ? "-" : "") + digits + "e" + std::to_string(k);
        return r;
    }

    std::string digits(int count) {
        std::string s(1, static_cast<char>('1' + pick(0, 8)));
        for (int i = 1; i < count; ++i) s += static_cast<char>('0' + pick(0, 9));
        return s;
    }

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }
    bool chance(int one_in) { return pick(1, one_in) == 1; }
    std::uint64_t below(std::uint64_t limit) {
        return std::uniform_int_distribution<std::uint64_t>(1, limit - 1)(engine_);
    }

private:
    std::mt19937_64 engine_;
};

std::uint32_t correctly_rounded_single(const std::string& plain) {
    return std::bit_cast<std::uint32_t>(std::strtof(plain.c_str(), nullptr));
}

// A failure stands for the infinity that the C library gives on overflow.
std::uint32_t bits_or_infinity(std::optional<std::uint32_t> bits, bool negative) {
    if (bits) return *bits;
    return negative ? 0xFF800000u : 0x7F800000u;
}

// Texts whose every binary64 step is exact: the integer of at most 17 digits
// is below 2^53 and times 10^k (0 <= k <= 22) still a binary64 integer.
TEST(parse_single_bits, is_correctly_rounded_when_the_binary64_steps_are_exact) {
    constexpr std::uint64_t seed = 0x5EED0001;
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    text_generator generator(seed);
    constexpr std::uint64_t two_to_53 = std::uint64_t{1} << 53;
    int failures = 0;
    for (int i = 0; i < 100000 && failures < 5; ++i) {
        const int k = generator.pick(0, 22);
        std::uint64_t five_to_k = 1;
        for (int j = 0; j < k; ++j) five_to_k *= 5;
        // value * 5^k < 2^53 keeps value * 10^k a 53-bit integer times 2^k.
        const std::uint64_t value = generator.below(two_to_53 / five_to_k);
        const bool negative = generator.chance(2);
        const random_text t = generator.render(negative, std::to_string(value), k);
        const std::uint32_t expected = correctly_rounded_single(t.plain);
        std::optional<std::uint32_t> flushed;
        {
            const scoped_fp_modes guard(flushing_modes);
            flushed = parse_single_bits(t.text.data(), t.text.size());
        }
        const std::optional<std::uint32_t> got = parse_single_bits(t.text.data(), t.text.size());
        if (got != expected || flushed != got) {
            ++failures;
            ADD_FAILURE() << t.text << " (" << t.plain << "): got " << std::hex << got.value_or(0)
                          << (got ? "" : " (failure)") << ", expected " << expected;
        }
    }
}

// Any text: within one unit in the last place of the correctly rounded value,
// the same in every FP mode, and the double conversion exactly the nearest.
TEST(parse_single_bits, stays_within_one_unit_of_correct_rounding) {
    constexpr std::uint64_t seed = 0x5EED0002;
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    text_generator generator(seed);
    int failures = 0;
    for (int i = 0; i < 100000 && failures < 5; ++i) {
        const int length = generator.chance(4) ? generator.pick(18, 40) : generator.pick(1, 17);
        const int m = generator.pick(-47, 41);
        const bool negative = generator.chance(2);
        const random_text t = generator.render(negative, generator.digits(length), m - length);

        const std::uint32_t expected = correctly_rounded_single(t.plain);
        const double expected_double = std::strtod(t.plain.c_str(), nullptr);
        std::optional<std::uint32_t> flushed;
        {
            const scoped_fp_modes guard(flushing_modes);
            flushed = parse_single_bits(t.text.data(), t.text.size());
        }
        const std::optional<std::uint32_t> got = parse_single_bits(t.text.data(), t.text.size());
        const std::optional<double> got_double = parse_double(t.text.data(), t.text.size());

        const std::uint32_t got_bits = bits_or_infinity(got, negative);
        const std::uint32_t distance = got_bits > expected ? got_bits - expected : expected - got_bits;
        const bool same_sign = (got_bits ^ expected) < 0x80000000u;
        const bool double_ok = got_double && std::bit_cast<std::uint64_t>(*got_double) ==
                                                 std::bit_cast<std::uint64_t>(expected_double);
        if (!same_sign || distance > 1 || flushed != got || !double_ok) {
            ++failures;
            ADD_FAILURE() << t.text << " (" << t.plain << "): got " << std::hex << got_bits
                          << (got ? "" : " (failure)") << ", correctly rounded " << expected
                          << (flushed != got ? ", differs under flushing" : "")
                          << (double_ok ? "" : ", double conversion differs");
        }
    }
}

}  // namespace
