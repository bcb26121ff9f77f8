// The three decimal conversions on any bytes: the whole input as one text,
// and each piece between the bytes that end a numeric token in the reader.
// Each result is checked against an oracle that reads the text on its own
// and converts it with the C library (strtof, strtod, from_chars), and
// against the same conversion run with flush-to-zero and denormals-are-zero on.

#include "platform/fp_control.hpp"
#include "tests/support/fp_modes.hpp"
#include "textio/decimal_to_binary.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace {

// 128 bits hold every product of a 53-bit integer, a 26-bit one and 5^22.
__extension__ typedef unsigned __int128 u128;

constexpr std::uint32_t sign_bit = 0x80000000;
constexpr std::uint32_t infinity_bits = 0x7F800000;
constexpr std::uint32_t quiet_nan_bits = 0x7FC00000;
constexpr std::uint64_t double_sign_bit = std::uint64_t{1} << 63;
constexpr std::uint64_t double_infinity_bits = 0x7FF0000000000000;
constexpr std::uint64_t two_to_53 = std::uint64_t{1} << 53;

// Beyond this length the procedure's rules for 7-digit exponents could meet
// mantissas long enough to bring the value back into range, where correct
// rounding is no longer the reference; libFuzzer inputs stay far below it.
constexpr std::size_t max_checked_length = 100000;

constexpr std::string_view token_ends = " \t,/)*\r\n";

struct conversions {
    std::optional<std::int32_t> integer;
    std::optional<std::uint32_t> single;
    std::optional<std::uint64_t> double_bits;

    bool operator==(const conversions&) const = default;
};

conversions convert(std::string_view text) {
    conversions c;
    c.integer = textio::parse_int32(text.data(), text.size());
    c.single = textio::parse_single_bits(text.data(), text.size());
    if (const std::optional<double> d = textio::parse_double(text.data(), text.size()))
        c.double_bits = std::bit_cast<std::uint64_t>(*d);
    return c;
}

[[noreturn]] void fail(std::string_view text, const conversions& got, const char* what) {
    std::fprintf(stderr, "conversion_fuzz: %s\ntext (%zu bytes):", what, text.size());
    for (const char ch : text.substr(0, 512)) std::fprintf(stderr, " %02X", static_cast<unsigned char>(ch));
    std::fprintf(stderr, "\nint32 %s %ld, single %s 0x%08lX, double %s 0x%016llX\n", got.integer ? "ok" : "fails",
                 static_cast<long>(got.integer.value_or(0)), got.single ? "ok" : "fails",
                 static_cast<unsigned long>(got.single.value_or(0)), got.double_bits ? "ok" : "fails",
                 static_cast<unsigned long long>(got.double_bits.value_or(0)));
    std::abort();
}

using test_support::scoped_fp_modes;

constexpr bool is_digit(char ch) noexcept { return ch >= '0' && ch <= '9'; }
constexpr bool is_sign(char ch) noexcept { return ch == '+' || ch == '-'; }
constexpr bool is_exponent_letter(char ch) noexcept { return std::string_view("DEQdeq").find(ch) != std::string_view::npos; }
constexpr char to_lower(char ch) noexcept { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; }

// The oracle's own reading of a decimal text:
//   [sign] digits ["." digits] [letter [[sign] digits] | sign digits]
// where every digit run may be empty and the letter is D, E or Q in either case.
struct decimal_text {
    bool negative = false;
    std::string_view whole_digits;
    std::string_view fraction_digits;
    bool exponent_negative = false;
    std::string_view exponent_digits;

    [[nodiscard]] bool has_mantissa_digit() const noexcept { return !whole_digits.empty() || !fraction_digits.empty(); }
};

std::optional<decimal_text> read_decimal(std::string_view t) {
    decimal_text d;
    std::size_t at = 0;
    const auto take_digits = [&] {
        const std::size_t start = at;
        while (at < t.size() && is_digit(t[at])) ++at;
        return t.substr(start, at - start);
    };
    if (at < t.size() && is_sign(t[at])) d.negative = t[at++] == '-';
    d.whole_digits = take_digits();
    if (at < t.size() && t[at] == '.') {
        ++at;
        d.fraction_digits = take_digits();
    }
    if (at < t.size() && (is_exponent_letter(t[at]) || is_sign(t[at]))) {
        if (is_exponent_letter(t[at])) ++at;
        if (at < t.size() && is_sign(t[at])) d.exponent_negative = t[at++] == '-';
        d.exponent_digits = take_digits();
    }
    if (at != t.size()) return std::nullopt;
    return d;
}

enum class special_word : std::uint8_t { infinity, nan };

// [sign] INF | INFINITY | NAN | NAN(letters, digits, underscores), any case.
std::optional<special_word> read_special_word(std::string_view t) {
    if (!t.empty() && is_sign(t.front())) t.remove_prefix(1);
    std::string lower;
    for (const char ch : t) lower.push_back(to_lower(ch));
    if (lower == "inf" || lower == "infinity") return special_word::infinity;
    if (lower.starts_with("nan")) {
        const std::string_view tail = std::string_view(lower).substr(3);
        if (tail.empty()) return special_word::nan;
        if (tail.size() < 2 || tail.front() != '(' || tail.back() != ')') return std::nullopt;
        for (const char ch : tail.substr(1, tail.size() - 2))
            if (!is_digit(ch) && !(ch >= 'a' && ch <= 'z') && ch != '_') return std::nullopt;
        return special_word::nan;
    }
    return std::nullopt;
}

// The same value in the form strtof and strtod read.
std::string c_library_form(const decimal_text& d) {
    std::string s = d.negative ? "-" : "";
    s.append(d.whole_digits).append(".").append(d.fraction_digits);
    s.append(d.exponent_negative ? "e-" : "e+");
    if (d.exponent_digits.empty())
        s.push_back('0');
    else
        s.append(d.exponent_digits);
    return s;
}

// A failure is an overflow: it sits where infinity would, one unit above the
// largest finite value.
std::uint32_t as_single_bits(const std::optional<std::uint32_t>& r, bool negative) {
    return r ? *r : (negative ? sign_bit : 0) | infinity_bits;
}
std::uint64_t as_double_bits(const std::optional<std::uint64_t>& r, bool negative) {
    return r ? *r : (negative ? double_sign_bit : 0) | double_infinity_bits;
}

unsigned width_of(u128 v) noexcept {
    unsigned width = 0;
    for (; v != 0; v >>= 1) ++width;
    return width;
}

std::optional<u128> shift_left(u128 v, unsigned by) noexcept {
    if (width_of(v) + by > 127) return std::nullopt;
    return v << by;
}

u128 power_of_five(unsigned k) noexcept {
    u128 p = 1;
    while (k-- > 0) p *= 5;
    return p;
}

// Whether x = n * 10^k lies farther than 2^-51 * x from m = odd * 2^q, a
// midpoint between two neighbouring binary32 values. Both sides are scaled to integers P (for x) and Q (for m) by one positive
// factor, so |x - m| / x = |P - Q| / P; |k| <= 22 keeps them within 128 bits.
bool is_far_from_midpoint(std::uint64_t n, int k, std::uint64_t odd, int q) {
    std::optional<u128> p;
    std::optional<u128> m;
    if (k >= 0) {
        // x = (n * 5^k) * 2^k.
        const u128 w = static_cast<u128>(n) * power_of_five(static_cast<unsigned>(k));
        const int d = k - q;
        if (d >= 0) {
            p = shift_left(w, static_cast<unsigned>(d));
            m = odd;
        } else {
            p = w;
            m = shift_left(odd, static_cast<unsigned>(-d));
        }
    } else {
        // x * 10^j = n, m * 10^j = (odd * 5^j) * 2^(q + j).
        const int j = -k;
        const u128 r = static_cast<u128>(odd) * power_of_five(static_cast<unsigned>(j));
        const int t = q + j;
        if (t >= 0) {
            p = n;
            m = shift_left(r, static_cast<unsigned>(t));
        } else {
            p = shift_left(n, static_cast<unsigned>(-t));
            m = r;
        }
    }
    if (!p || !m) return false;
    const u128 distance = *p > *m ? *p - *m : *m - *p;
    // distance > (P >> 51) + 1 implies distance > P * 2^-51.
    return distance > (*p >> 51) + 1;
}

// When the procedure's result must be the correctly rounded one.
//
// With at most 16 significant digits whose integer n is below 2^53, every
// step that builds A (9-digit groups, multiply-adds) works on integers no
// larger than n, so A = n exactly. For |k| <= 22 the scaling is one
// multiplication by the table's 10^k, so A = n * 10^k * (1 + d1) * (1 + d2)
// with |d1|, |d2| <= 2^-53 (d1 = 0 for k >= 0): |A - x| < 2^-51 * x.
//   - If k >= 0 and n * 10^k is itself a binary64 value (the odd part of
//     n * 5^k is below 2^53), A = x and the one binary32 rounding of A is the
//     correct rounding, ties included.
//   - Otherwise, if both midpoints around the correctly rounded result r lie
//     more than 2^-51 * x from x, A lies strictly inside r's rounding interval
//     and rounds to r as well.
// x lies between 10^-22 and 2^53 * 10^22, well inside the normal range, so the
// subnormal rounding never takes part. Exact ties written with a fraction
// ("16777217.0") fail both tests: there a double rounding may legitimately
// land one unit away.
bool must_round_correctly(const decimal_text& d, std::uint32_t reference_bits) {
    std::string digits = std::string(d.whole_digits).append(d.fraction_digits);
    digits.erase(0, digits.find_first_not_of('0'));
    if (digits.empty() || digits.size() > 16) return false;
    std::uint64_t n = 0;
    for (const char ch : digits) n = n * 10 + static_cast<std::uint64_t>(ch - '0');
    if (n >= two_to_53) return false;

    std::string_view exponent = d.exponent_digits;
    exponent.remove_prefix(std::min(exponent.find_first_not_of('0'), exponent.size()));
    if (exponent.size() > 6) return false;
    std::int64_t e = 0;
    for (const char ch : exponent) e = e * 10 + (ch - '0');
    const std::int64_t k64 = (d.exponent_negative ? -e : e) - static_cast<std::int64_t>(d.fraction_digits.size());
    if (k64 < -22 || k64 > 22) return false;
    const int k = static_cast<int>(k64);

    if (k >= 0) {
        u128 w = static_cast<u128>(n) * power_of_five(static_cast<unsigned>(k));
        while ((w & 1) == 0) w >>= 1;
        if (w < two_to_53) return true;
    }

    const std::uint32_t magnitude = reference_bits & ~sign_bit;
    const auto biased = static_cast<int>(magnitude >> 23);
    if (biased == 0 || biased == 0xFF) return false;
    const std::uint64_t c = (magnitude & 0x007FFFFF) | 0x00800000;  // r = c * 2^(biased - 150)
    const int q = biased - 150;
    const bool at_power_of_two = c == 0x00800000;  // the unit below r is half the unit above
    return is_far_from_midpoint(n, k, 2 * c + 1, q - 1) &&
           (at_power_of_two ? is_far_from_midpoint(n, k, 4 * c - 1, q - 2)
                            : is_far_from_midpoint(n, k, 2 * c - 1, q - 1));
}

// A lone sign is left out: it holds no character other than a sign, yet no
// digit either, and the conversion's rule does not settle it (it gives 0).
bool is_lone_sign(std::string_view t) { return t.size() == 1 && is_sign(t.front()); }

std::optional<std::int32_t> reference_int32(std::string_view t) {
    // from_chars takes "-" but not "+".
    if (!t.empty() && t.front() == '+') {
        t.remove_prefix(1);
        if (!t.empty() && t.front() == '-') return std::nullopt;
    }
    std::int32_t value = 0;
    const std::from_chars_result r = std::from_chars(t.data(), t.data() + t.size(), value);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
    return value;
}

void check_decimal(std::string_view text, const conversions& got, const decimal_text& d) {
    if (!d.has_mantissa_digit()) {
        // Signs, a point and an exponent without a digit: zero, and never -0.
        if (got.single != std::uint32_t{0} || got.double_bits != std::uint64_t{0})
            fail(text, got, "a text without mantissa digits did not give +0");
        return;
    }
    const std::string c_text = c_library_form(d);
    const std::uint32_t single_reference = std::bit_cast<std::uint32_t>(std::strtof(c_text.c_str(), nullptr));
    const std::uint64_t double_reference = std::bit_cast<std::uint64_t>(std::strtod(c_text.c_str(), nullptr));

    const std::uint32_t single = as_single_bits(got.single, d.negative);
    if ((single & sign_bit) != (single_reference & sign_bit))
        fail(text, got, "single: the sign differs from the text's");
    const auto magnitude = static_cast<std::int64_t>(single & ~sign_bit);
    const auto reference_magnitude = static_cast<std::int64_t>(single_reference & ~sign_bit);
    if (std::llabs(magnitude - reference_magnitude) > 1)
        fail(text, got, "single: more than one unit from the correctly rounded value");
    if (single != single_reference && must_round_correctly(d, single_reference))
        fail(text, got, "single: not correctly rounded where every step is exact enough");

    if (as_double_bits(got.double_bits, d.negative) != double_reference)
        fail(text, got, "double: not the nearest binary64 value");
}

void check_special_word(std::string_view text, const conversions& got, special_word word) {
    const bool negative = text.front() == '-';
    if (word == special_word::infinity) {
        const std::uint64_t infinity = (negative ? double_sign_bit : 0) | double_infinity_bits;
        if (got.single != ((negative ? sign_bit : 0) | infinity_bits) || got.double_bits != infinity)
            fail(text, got, "an infinity word did not give infinity of its sign");
        return;
    }
    const std::uint32_t nan_bits = text.front() == '+' ? quiet_nan_bits : sign_bit | quiet_nan_bits;
    if (got.single != nan_bits || !got.double_bits || !std::isnan(std::bit_cast<double>(*got.double_bits)))
        fail(text, got, "a NaN word did not give the quiet NaN of its sign");
}

void check_text(std::string_view text) {
    if (text.empty()) return;  // the conversions take one byte or more
    conversions got;
    {
        const scoped_fp_modes modes({false, false});
        got = convert(text);
    }
    {
        const scoped_fp_modes modes({true, true});
        if (convert(text) != got) fail(text, got, "flush-to-zero or denormals-are-zero changed a result");
    }
    if (text.size() > max_checked_length) return;

    if (!is_lone_sign(text) && got.integer != reference_int32(text)) fail(text, got, "int32: differs from from_chars on sign and digits");
    if (const std::optional<decimal_text> d = read_decimal(text)) {
        check_decimal(text, got, *d);
    } else if (const std::optional<special_word> word = read_special_word(text)) {
        check_special_word(text, got, *word);
    } else if (got.single || got.double_bits) {
        fail(text, got, "a text that is no number was accepted");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // strtof and strtod read a point as the decimal point only in this locale.
    static const bool c_locale = std::setlocale(LC_NUMERIC, "C") != nullptr;
    if (!c_locale) std::abort();

    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    check_text(bytes);
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = std::min(bytes.find_first_of(token_ends, start), bytes.size());
        if (start > 0 || end < bytes.size()) check_text(bytes.substr(start, end - start));
        start = end + 1;
    }
    return 0;
}
