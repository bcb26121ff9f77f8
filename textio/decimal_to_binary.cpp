#include "textio/decimal_to_binary.hpp"

#include <bit>
#include <cassert>
#include <charconv>
#include <cstddef>
#include <limits>
#include <system_error>

namespace textio {
namespace {

// The binary64 value nearest to 10^k for k = -47..44, exact for 0..22. Derived
// with exact rational arithmetic (10^k as a fraction, rounded once to 53 bits
// and checked against both neighbours). 10^23 lies exactly halfway between two
// binary64 values; its entry is the even one, as the decimal literal gives.
constexpr int min_table_power = -47;
constexpr int max_table_power = 44;
constexpr double powers_of_ten[max_table_power - min_table_power + 1] = {
    0x1.d3ae36d13bbcep-157,  // 1e-47
    0x1.244ce242c5561p-153,  // 1e-46
    0x1.6d601ad376ab9p-150,  // 1e-45
    0x1.c8b8218854567p-147,  // 1e-44
    0x1.1d7314f534b61p-143,  // 1e-43
    0x1.64cfda3281e39p-140,  // 1e-42
    0x1.be03d0bf225c7p-137,  // 1e-41
    0x1.16c262777579cp-133,  // 1e-40
    0x1.5c72fb1552d83p-130,  // 1e-39
    0x1.b38fb9daa78e4p-127,  // 1e-38
    0x1.1039d428a8b8fp-123,  // 1e-37
    0x1.54484932d2e72p-120,  // 1e-36
    0x1.a95a5b7f87a0fp-117,  // 1e-35
    0x1.09d8792fb4c49p-113,  // 1e-34
    0x1.4c4e977ba1f5cp-110,  // 1e-33
    0x1.9f623d5a8a733p-107,  // 1e-32
    0x1.039d665896880p-103,  // 1e-31
    0x1.4484bfeebc2a0p-100,  // 1e-30
    0x1.95a5efea6b347p-97,  // 1e-29
    0x1.fb0f6be506019p-94,  // 1e-28
    0x1.3ce9a36f23c10p-90,  // 1e-27
    0x1.8c240c4aecb14p-87,  // 1e-26
    0x1.ef2d0f5da7dd9p-84,  // 1e-25
    0x1.357c299a88ea7p-80,  // 1e-24
    0x1.82db34012b251p-77,  // 1e-23
    0x1.e392010175ee6p-74,  // 1e-22
    0x1.2e3b40a0e9b4fp-70,  // 1e-21
    0x1.79ca10c924223p-67,  // 1e-20
    0x1.d83c94fb6d2acp-64,  // 1e-19
    0x1.2725dd1d243acp-60,  // 1e-18
    0x1.70ef54646d497p-57,  // 1e-17
    0x1.cd2b297d889bcp-54,  // 1e-16
    0x1.203af9ee75616p-50,  // 1e-15
    0x1.6849b86a12b9bp-47,  // 1e-14
    0x1.c25c268497682p-44,  // 1e-13
    0x1.19799812dea11p-40,  // 1e-12
    0x1.5fd7fe1796495p-37,  // 1e-11
    0x1.b7cdfd9d7bdbbp-34,  // 1e-10
    0x1.12e0be826d695p-30,  // 1e-9
    0x1.5798ee2308c3ap-27,  // 1e-8
    0x1.ad7f29abcaf48p-24,  // 1e-7
    0x1.0c6f7a0b5ed8dp-20,  // 1e-6
    0x1.4f8b588e368f1p-17,  // 1e-5
    0x1.a36e2eb1c432dp-14,  // 1e-4
    0x1.0624dd2f1a9fcp-10,  // 1e-3
    0x1.47ae147ae147bp-7,  // 1e-2
    0x1.999999999999ap-4,  // 1e-1
    0x1.0000000000000p+0,  // 1e0
    0x1.4000000000000p+3,  // 1e1
    0x1.9000000000000p+6,  // 1e2
    0x1.f400000000000p+9,  // 1e3
    0x1.3880000000000p+13,  // 1e4
    0x1.86a0000000000p+16,  // 1e5
    0x1.e848000000000p+19,  // 1e6
    0x1.312d000000000p+23,  // 1e7
    0x1.7d78400000000p+26,  // 1e8
    0x1.dcd6500000000p+29,  // 1e9
    0x1.2a05f20000000p+33,  // 1e10
    0x1.74876e8000000p+36,  // 1e11
    0x1.d1a94a2000000p+39,  // 1e12
    0x1.2309ce5400000p+43,  // 1e13
    0x1.6bcc41e900000p+46,  // 1e14
    0x1.c6bf526340000p+49,  // 1e15
    0x1.1c37937e08000p+53,  // 1e16
    0x1.6345785d8a000p+56,  // 1e17
    0x1.bc16d674ec800p+59,  // 1e18
    0x1.158e460913d00p+63,  // 1e19
    0x1.5af1d78b58c40p+66,  // 1e20
    0x1.b1ae4d6e2ef50p+69,  // 1e21
    0x1.0f0cf064dd592p+73,  // 1e22
    0x1.52d02c7e14af6p+76,  // 1e23
    0x1.a784379d99db4p+79,  // 1e24
    0x1.08b2a2c280291p+83,  // 1e25
    0x1.4adf4b7320335p+86,  // 1e26
    0x1.9d971e4fe8402p+89,  // 1e27
    0x1.027e72f1f1281p+93,  // 1e28
    0x1.431e0fae6d721p+96,  // 1e29
    0x1.93e5939a08ceap+99,  // 1e30
    0x1.f8def8808b024p+102,  // 1e31
    0x1.3b8b5b5056e17p+106,  // 1e32
    0x1.8a6e32246c99cp+109,  // 1e33
    0x1.ed09bead87c03p+112,  // 1e34
    0x1.3426172c74d82p+116,  // 1e35
    0x1.812f9cf7920e3p+119,  // 1e36
    0x1.e17b84357691bp+122,  // 1e37
    0x1.2ced32a16a1b1p+126,  // 1e38
    0x1.78287f49c4a1dp+129,  // 1e39
    0x1.d6329f1c35ca5p+132,  // 1e40
    0x1.25dfa371a19e7p+136,  // 1e41
    0x1.6f578c4e0a061p+139,  // 1e42
    0x1.cb2d6f618c879p+142,  // 1e43
    0x1.1efc659cf7d4cp+146,  // 1e44
};

constexpr double power_of_ten(std::int64_t k) noexcept {
    return powers_of_ten[k - min_table_power];
}

// Scales below the table go through one of these, derived the same way.
constexpr double ten_to_minus_66 = 0x1.af5bf109550f2p-220;
constexpr double ten_to_minus_85 = 0x1.8ddbcc7f40ba6p-283;

// The largest binary64 value below the midpoint of FLT_MAX and 2^128.
constexpr std::uint64_t overflow_bound_bits = 0x47EFFFFFEFFFFFFF;
// 2^-126 - 2^-151: from here up, rounding to 24 bits reaches a normal binary32
// value; below it the result is a subnormal (or 2^-126 by a carry).
constexpr std::uint64_t normal_bound_bits = 0x380FFFFFF0000000;
// The smallest binary64 value above 2^-150, half the smallest subnormal.
constexpr std::uint64_t underflow_bound_bits = 0x3690000000000001;
constexpr std::uint64_t smallest_normal_single_as_double_bits = 0x3810000000000000;  // 2^-126

constexpr std::uint32_t sign_bit = 0x80000000;
constexpr std::uint32_t infinity_bits = 0x7F800000;
constexpr std::uint32_t quiet_nan_bits = 0x7FC00000;
constexpr std::uint32_t smallest_normal_bits = 0x00800000;

constexpr int group_digits = 9;
constexpr double ten_to_group = 1e9;
constexpr int max_stored_groups = 2;
constexpr int max_kept_digits = group_digits * (max_stored_groups + 1);

// Exponents of 7 digits or more are never needed as values: they either make
// the value zero or fail.
constexpr int max_exponent_digits = 6;

// Every binary64 value and every midpoint between two neighbours has at most
// 767 significant decimal digits, so 768 digits and a sticky digit for the
// rest round exactly as the whole text does.
constexpr int max_double_digits = 768;

enum class scan_outcome { failure, zero, infinity, nan, finite };

struct scanned_decimal {
    scan_outcome outcome = scan_outcome::failure;
    bool negative = false;
    bool plus = false;
    std::int64_t significant_digits = 0;
    std::int64_t decimal_exponent = 0;  // the value is the significant digits' integer times 10^this
};

constexpr char to_lower_ascii(char c) noexcept {
    return static_cast<char>(c | 0x20);  // only used to compare with lower-case letters
}

constexpr bool matches_word(const char* p, const char* end, const char* lower_word) noexcept {
    for (; *lower_word != '\0'; ++p, ++lower_word)
        if (p == end || to_lower_ascii(*p) != *lower_word) return false;
    return p == end;
}

constexpr bool is_payload_char(char c) noexcept {
    const char lower = to_lower_ascii(c);
    return (c >= '0' && c <= '9') || (lower >= 'a' && lower <= 'z') || c == '_';
}

// "NAN" already matched at p - 3: either nothing follows or one "(...)".
constexpr bool is_nan_tail(const char* p, const char* end) noexcept {
    if (p == end) return true;
    if (*p != '(') return false;
    for (++p; p != end && is_payload_char(*p); ++p) {
    }
    return p != end && *p == ')' && p + 1 == end;
}

constexpr bool is_exponent_letter(char c) noexcept {
    const char lower = to_lower_ascii(c);
    return lower == 'd' || lower == 'e' || lower == 'q';
}

// Sign, special words, mantissa and exponent, leftovers, zero and the
// exponent's size; each significant digit goes to sink.add_digit in order.
template <class Sink>
scanned_decimal scan_decimal(const char* p, const char* const end, Sink& sink) noexcept {
    scanned_decimal r;
    if (p != end && (*p == '-' || *p == '+')) {
        r.negative = *p == '-';
        r.plus = *p == '+';
        ++p;
    }
    if (p != end) {
        const char lower = to_lower_ascii(*p);
        if (lower == 'i') {
            if (matches_word(p, end, "inf") || matches_word(p, end, "infinity"))
                r.outcome = scan_outcome::infinity;
            return r;
        }
        if (lower == 'n') {
            if (end - p >= 3 && to_lower_ascii(p[1]) == 'a' && to_lower_ascii(p[2]) == 'n' &&
                is_nan_tail(p + 3, end))
                r.outcome = scan_outcome::nan;
            return r;
        }
    }

    // Digits and at most one point; the counts of digits and of digits after
    // the point follow from where the point and the mantissa's end lie.
    const char* const mantissa = p;
    const char* point = nullptr;
    for (; p != end; ++p) {
        const auto digit = static_cast<unsigned>(*p - '0');
        if (digit <= 9) {
            if (digit == 0 && r.significant_digits == 0) continue;  // a leading zero
            ++r.significant_digits;
            sink.add_digit(digit);
        } else if (*p == '.' && point == nullptr) {
            point = p;
        } else {
            break;
        }
    }
    const bool any_digit = p - mantissa > (point != nullptr ? 1 : 0);
    const std::int64_t digits_after_point = point != nullptr ? p - point - 1 : 0;

    bool exponent_part = false;
    if (p != end) {
        if (is_exponent_letter(*p)) {
            ++p;
            exponent_part = p != end;
        } else {
            exponent_part = *p == '+' || *p == '-';  // a sign starts an exponent without a letter
        }
    }

    bool exponent_negative = false;
    int exponent_digits = 0;
    std::int32_t exponent_value = 0;
    if (exponent_part) {
        if (*p == '+' || *p == '-') {
            exponent_negative = *p == '-';
            ++p;
        }
        for (; p != end; ++p) {
            const auto digit = static_cast<unsigned>(*p - '0');
            if (digit > 9) break;
            if (digit == 0 && exponent_digits == 0) continue;
            if (exponent_digits <= max_exponent_digits) {
                ++exponent_digits;
                exponent_value = exponent_value * 10 + static_cast<std::int32_t>(digit);
            }
        }
    }
    if (p != end) return r;

    if (r.significant_digits == 0) {
        r.negative = r.negative && any_digit;
        r.outcome = scan_outcome::zero;
        return r;
    }
    if (exponent_digits > max_exponent_digits) {
        if (exponent_negative) r.outcome = scan_outcome::zero;
        return r;
    }
    const std::int32_t e = exponent_negative ? -exponent_value : exponent_value;
    r.decimal_exponent = e - digits_after_point;
    r.outcome = scan_outcome::finite;
    return r;
}

// The first 27 significant digits in three 9-digit groups; later non-zero
// digits only set sticky.
struct digit_groups {
    std::uint32_t stored[max_stored_groups] = {};
    int stored_count = 0;
    std::uint32_t current = 0;
    int current_digits = 0;
    bool sticky = false;

    void add_digit(unsigned digit) noexcept {
        if (current_digits < group_digits) {
            current = current * 10 + digit;
            ++current_digits;
        } else if (stored_count < max_stored_groups) {
            stored[stored_count++] = current;
            current = digit;
            current_digits = 1;
        } else if (digit != 0) {
            sticky = true;
        }
    }
};

// Each operation is one binary64 operation rounded to nearest; the build
// forbids contraction into fused multiply-add, and every operand and result
// is a normal number, so flush-to-zero and denormals-are-zero cannot act.
double compute_scaled_value(const digit_groups& groups, std::int64_t significant_digits,
                            std::int64_t decimal_exponent) noexcept {
    double a = static_cast<double>(groups.current);
    if (significant_digits > group_digits) {
        a = static_cast<double>(groups.stored[0]);
        if (groups.stored_count == max_stored_groups)
            a = a * ten_to_group + static_cast<double>(groups.stored[1]);
        a = a * power_of_ten(groups.current_digits) + static_cast<double>(groups.current);
    }
    std::int64_t k = decimal_exponent;
    if (significant_digits > max_kept_digits) k += significant_digits - max_kept_digits;
    // The caller's bounds on m (-45..39) keep k within these.
    assert(k >= -72 && k <= 38);
    if (k >= -46) return a * power_of_ten(k);
    if (k >= -66) {
        const double s = ten_to_minus_66 * power_of_ten(k + 66);
        return a * s;
    }
    const double s = ten_to_minus_85 * power_of_ten(k + 85);
    return a * s;
}

// Binary32 rounding of a positive normal binary64 value done on its bits, so
// no processor mode takes part. Subnormal results round to a multiple of
// 2^-149 with sticky standing for a non-zero bit below the rounding point.
inline std::optional<std::uint32_t> round_to_single_bits(double a, bool sticky) noexcept {
    const auto bits = std::bit_cast<std::uint64_t>(a);
    if (bits > overflow_bound_bits) return std::nullopt;
    if (bits >= normal_bound_bits) {
        // Between the bound and 2^-126 everything rounds up to 2^-126.
        if (bits < smallest_normal_single_as_double_bits) return smallest_normal_bits;
        // Adding just under half a unit of the kept bits, plus the lowest kept
        // bit, carries into them exactly when rounding to nearest-even goes up;
        // a carry out of the fraction correctly moves into the exponent.
        constexpr int dropped_bits = 52 - 23;
        constexpr std::uint64_t below_half = (std::uint64_t{1} << (dropped_bits - 1)) - 1;
        const std::uint64_t odd = (bits >> dropped_bits) & 1;
        const std::uint64_t rounded = (bits + below_half + odd) >> dropped_bits;
        return static_cast<std::uint32_t>(rounded - (std::uint64_t{1023 - 127} << 23));  // re-biased
    }
    if (bits < underflow_bound_bits) return 0;
    // a = significand * 2^(biased_exponent - 1075) with biased_exponent in
    // 873..896; in units of 2^-149 that is significand >> shift, shift 30..53.
    const auto biased_exponent = static_cast<int>(bits >> 52);
    const std::uint64_t significand = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int shift = (1023 + 52 - 149) - biased_exponent;
    // As above, with sticky standing in for the lowest kept bit on a tie.
    const std::uint64_t below_half = (std::uint64_t{1} << (shift - 1)) - 1;
    const std::uint64_t odd_or_sticky = ((significand >> shift) & 1) | (sticky ? 1 : 0);
    return static_cast<std::uint32_t>((significand + below_half + odd_or_sticky) >> shift);
}

// Up to 768 significant digits as text, and whether a later one was non-zero.
struct digit_text {
    char digits[max_double_digits];
    int count = 0;
    bool sticky = false;

    void add_digit(unsigned digit) noexcept {
        if (count < max_double_digits)
            digits[count++] = static_cast<char>('0' + digit);
        else if (digit != 0)
            sticky = true;
    }
};

constexpr double signed_zero(bool negative) noexcept { return negative ? -0.0 : 0.0; }

// The common text: an optional sign, at most 9 mantissa digits around an
// optional point, and an optional exponent of at most 4 digits. With at most
// 9 significant digits the procedure comes down to A = their integer (the
// current group, exact in binary64), one multiplication by the table's power
// of ten for k = E10, and binary32 rounding without sticky. For 1 to 9
// significant digits these bounds on E10 keep m within -45..39, so neither
// the zero below the range nor the failure above it applies.
constexpr std::ptrdiff_t max_plain_digits = 9;
constexpr std::ptrdiff_t max_plain_exponent_digits = 4;
constexpr int min_plain_exponent = -46;
constexpr int max_plain_exponent = 39 - max_plain_digits;

// Gives the procedure's result for such a text, and nullopt, having decided
// nothing, for any other text and for a value too large for binary32: the
// full procedure then takes the text from the start.
std::optional<std::uint32_t> convert_plain_single(const char* text, std::size_t length) noexcept {
    const char* p = text;
    const char* const end = text + length;
    const bool negative = *p == '-';
    if (negative || *p == '+') ++p;

    // Leading zeros count among the 9 digits, which keeps the integer below
    // 10^9 without an overflow check; they add nothing to it.
    const char* const mantissa = p;
    std::uint32_t digits = 0;
    const auto take_digits = [&p, end, &digits] {
        for (; p != end; ++p) {
            const auto digit = static_cast<unsigned>(*p - '0');
            if (digit > 9) break;
            digits = digits * 10 + digit;
        }
    };
    take_digits();
    const char* point = nullptr;
    if (p != end && *p == '.') {
        point = p++;
        take_digits();
    }
    const std::ptrdiff_t digit_count = (p - mantissa) - (point != nullptr ? 1 : 0);
    if (digit_count == 0 || digit_count > max_plain_digits) return std::nullopt;
    const std::ptrdiff_t digits_after_point = point != nullptr ? p - point - 1 : 0;

    // The exponent, after a letter or starting with a sign; a letter or sign
    // with nothing after it leaves it 0. Whatever else follows the mantissa
    // is left to the full procedure.
    int exponent = 0;
    if (p != end) {
        if (is_exponent_letter(*p)) {
            ++p;
        } else if (*p != '+' && *p != '-') {
            return std::nullopt;
        }
        const bool exponent_negative = p != end && *p == '-';
        if (p != end && (exponent_negative || *p == '+')) ++p;
        if (end - p > max_plain_exponent_digits) return std::nullopt;
        for (; p != end; ++p) {
            const auto digit = static_cast<unsigned>(*p - '0');
            if (digit > 9) return std::nullopt;
            exponent = exponent * 10 + static_cast<int>(digit);
        }
        if (exponent_negative) exponent = -exponent;
    }

    const std::uint32_t sign = negative ? sign_bit : 0;
    if (digits == 0) return sign;  // only zeros: the exponent is not looked at
    const int decimal_exponent = exponent - static_cast<int>(digits_after_point);
    if (decimal_exponent < min_plain_exponent || decimal_exponent > max_plain_exponent) return std::nullopt;
    const double a = static_cast<double>(digits) * power_of_ten(decimal_exponent);
    const std::optional<std::uint32_t> magnitude = round_to_single_bits(a, false);
    if (!magnitude) return std::nullopt;
    return sign | *magnitude;
}

// Every text, step by step. Kept out of line: inlined, its frame would burden
// the common case above.
[[gnu::noinline]] std::optional<std::uint32_t> convert_single_in_full(const char* text, std::size_t length) noexcept {
    digit_groups groups;
    const scanned_decimal d = scan_decimal(text, text + length, groups);
    const std::uint32_t sign = d.negative ? sign_bit : 0;
    switch (d.outcome) {
    case scan_outcome::failure:
        return std::nullopt;
    case scan_outcome::zero:
        return sign;
    case scan_outcome::infinity:
        return sign | infinity_bits;
    case scan_outcome::nan:
        return d.plus ? quiet_nan_bits : sign_bit | quiet_nan_bits;
    case scan_outcome::finite:
        break;
    }
    // The value lies in [10^(m-1), 10^m).
    const std::int64_t m = d.significant_digits + d.decimal_exponent;
    if (m <= -46) return sign;
    if (m >= 40) return std::nullopt;
    const double a = compute_scaled_value(groups, d.significant_digits, d.decimal_exponent);
    const std::optional<std::uint32_t> magnitude = round_to_single_bits(a, groups.sticky);
    if (!magnitude) return std::nullopt;
    return sign | *magnitude;
}

}  // namespace

std::optional<std::int32_t> parse_int32(const char* text, std::size_t length) noexcept {
    const char* p = text;
    const char* const end = text + length;
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    // Anything beyond 2^31 fails whatever follows, so the magnitude never
    // needs more than 64 bits.
    constexpr std::uint64_t limit = std::uint64_t{1} << 31;
    std::uint64_t magnitude = 0;
    for (; p != end; ++p) {
        const auto digit = static_cast<unsigned>(*p - '0');
        if (digit > 9) return std::nullopt;
        magnitude = magnitude * 10 + digit;
        if (magnitude > limit) return std::nullopt;
    }
    if (negative) return static_cast<std::int32_t>(0 - static_cast<std::uint32_t>(magnitude));
    if (magnitude == limit) return std::nullopt;
    return static_cast<std::int32_t>(magnitude);
}

std::optional<std::uint32_t> parse_single_bits(const char* text, std::size_t length) noexcept {
    assert(length >= 1);
    if (const std::optional<std::uint32_t> bits = convert_plain_single(text, length)) return bits;
    return convert_single_in_full(text, length);
}

std::optional<double> parse_double(const char* text, std::size_t length) noexcept {
    digit_text kept;
    const scanned_decimal d = scan_decimal(text, text + length, kept);
    switch (d.outcome) {
    case scan_outcome::failure:
        return std::nullopt;
    case scan_outcome::zero:
        return signed_zero(d.negative);
    case scan_outcome::infinity:
        return d.negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    case scan_outcome::nan:
        return d.plus ? std::numeric_limits<double>::quiet_NaN() : -std::numeric_limits<double>::quiet_NaN();
    case scan_outcome::finite:
        break;
    }
    // Beyond these bounds of m the value is far outside the binary64 range;
    // within them the exponent written below stays short.
    constexpr std::int64_t max_decimal_magnitude = 330;
    const std::int64_t m = d.significant_digits + d.decimal_exponent;
    if (m > max_decimal_magnitude) return std::nullopt;
    if (m < -max_decimal_magnitude) return signed_zero(d.negative);

    // digits, an optional sticky "1", then "e" and the exponent: at most
    // 768 + 1 + 1 + 1 + 4 characters.
    char buffer[max_double_digits + 16];
    char* out = buffer;
    for (int i = 0; i < kept.count; ++i) *out++ = kept.digits[i];
    std::int64_t exponent = d.decimal_exponent + (d.significant_digits - kept.count);
    if (kept.sticky) {
        *out++ = '1';
        --exponent;
    }
    *out++ = 'e';
    out = std::to_chars(out, buffer + sizeof buffer, exponent).ptr;

    double value = 0;
    const std::from_chars_result r = std::from_chars(buffer, out, value);
    if (r.ec == std::errc::result_out_of_range) {
        if (m > 0) return std::nullopt;
        return signed_zero(d.negative);
    }
    return d.negative ? -value : value;
}

}  // namespace textio
