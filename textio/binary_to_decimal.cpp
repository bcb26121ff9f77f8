#include "textio/binary_to_decimal.hpp"

#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace textio {
namespace {

// Everything here is integer arithmetic on 32- and 64-bit words only (no
// 128-bit type, no floating point), so it builds the same for 32-bit targets
// and no rounding or flush-to-zero mode can reach a digit.

// ---------------------------------------------------------------------------
// Powers of ten for the fast path, built at compile time by exact arithmetic.

// An unsigned integer of 128 bits as four 32-bit limbs, least significant
// first; only what the table construction needs.
using limbs128 = std::array<std::uint32_t, 4>;

constexpr limbs128 multiply_by_5(limbs128 x) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : x) {
        const std::uint64_t product = std::uint64_t{limb} * 5 + carry;
        limb = static_cast<std::uint32_t>(product);
        carry = product >> 32;
    }
    return x;
}

constexpr int bit_length(const limbs128& x) {
    for (int i = 3; i >= 0; --i) {
        const std::uint32_t limb = x[static_cast<std::size_t>(i)];
        if (limb != 0) return 32 * i + static_cast<int>(std::bit_width(limb));
    }
    return 0;
}

constexpr bool test_bit(const limbs128& x, int bit) {
    return ((x[static_cast<std::size_t>(bit / 32)] >> (bit % 32)) & 1u) != 0;
}

constexpr limbs128 shift_left_1(limbs128 x) {
    for (std::size_t i = 3; i > 0; --i) x[i] = (x[i] << 1) | (x[i - 1] >> 31);
    x[0] <<= 1;
    return x;
}

constexpr bool is_less(const limbs128& a, const limbs128& b) {
    for (std::size_t i = 4; i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i];
    }
    return false;
}

constexpr limbs128 subtract(limbs128 a, const limbs128& b) {
    std::uint32_t borrow = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint64_t difference = std::uint64_t{a[i]} - b[i] - borrow;
        a[i] = static_cast<std::uint32_t>(difference);
        borrow = static_cast<std::uint32_t>(difference >> 63);
    }
    return a;
}

// 10^power ~ significand * 2^exponent with 2^63 <= significand < 2^64, rounded
// up: the approximation exceeds 10^power by less than one part in 2^63, never
// falls short of it.
struct power_of_ten {
    std::uint64_t significand;
    int exponent;
};

constexpr power_of_ten make_power_of_ten(int power) {
    const int n = power < 0 ? -power : power;
    limbs128 five_n{1, 0, 0, 0};
    for (int i = 0; i < n; ++i) five_n = multiply_by_5(five_n);
    const int length = bit_length(five_n);
    std::uint64_t significand = 0;
    if (power >= 0) {
        // 10^n = 5^n * 2^n: the leading 64 bits of 5^n, rounded up.
        bool inexact = false;
        for (int bit = length - 1; bit >= length - 64; --bit) {
            significand = (significand << 1) | (bit >= 0 && test_bit(five_n, bit) ? 1u : 0u);
        }
        for (int bit = length - 65; bit >= 0; --bit) inexact = inexact || test_bit(five_n, bit);
        return {significand + (inexact ? 1u : 0u), n + length - 64};
    }
    // 10^-n = 2^-n / 5^n: ceil(2^(63 + length) / 5^n) lies in (2^63, 2^64),
    // found by long division one bit at a time.
    limbs128 remainder{1, 0, 0, 0};
    for (int step = 0; step < 63 + length; ++step) {
        remainder = shift_left_1(remainder);
        const bool bit = !is_less(remainder, five_n);
        if (bit) remainder = subtract(remainder, five_n);
        significand = (significand << 1) | (bit ? 1u : 0u);
    }
    const bool inexact = remainder != limbs128{0, 0, 0, 0};
    return {significand + (inexact ? 1u : 0u), -(63 + length) - n};
}

// The fast path serves 1..9 digits: 10^9 < 2^30, so every integer it handles,
// even a rounded-up 2 * 10^9 - 1, fits in 32 bits.
constexpr int fast_digits_max = 9;

// The scale 10^(d - p) for 1 <= d <= 9 and the first guesses -44 <= p <= 39
// of the decimal exponent that the binary exponents of binary32 give.
constexpr int power_min = 1 - 39;
constexpr int power_max = fast_digits_max + 44;

constexpr auto powers_of_ten = [] {
    std::array<power_of_ten, power_max - power_min + 1> table{};
    for (int power = power_min; power <= power_max; ++power) {
        table[static_cast<std::size_t>(power - power_min)] = make_power_of_ten(power);
    }
    return table;
}();

constexpr bool is_normalized(const decltype(powers_of_ten)& table) {
    for (const power_of_ten& entry : table) {
        if ((entry.significand >> 63) == 0) return false;
    }
    return true;
}
static_assert(is_normalized(powers_of_ten), "a scale significand left [2^63, 2^64)");
static_assert(powers_of_ten[0 - power_min].significand == std::uint64_t{1} << 63 &&
              powers_of_ten[0 - power_min].exponent == -63);
static_assert(powers_of_ten[3 - power_min].significand == 0xFA00000000000000u);

constexpr std::array<std::uint32_t, 10> powers_of_ten_32 = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

// Up to 5^13, the largest below 2^32.
constexpr std::array<std::uint32_t, 14> powers_of_five_32 = {
    1,       5,        25,        125,        625,        3125,         15625,
    78125,   390625,   1953125,   9765625,    48828125,   244140625,    1220703125};

// "00" to "99".
constexpr auto digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (std::size_t i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// floor(b * log10(2)), exact for |b| <= 2620; binary32 needs -149..127.
constexpr int floor_log10_pow2(int b) noexcept { return (b * 315653) >> 20; }

// ---------------------------------------------------------------------------
// Fast path: one 24 x 64-bit product.

// m * 2^q * 10^power split at the binary point: the integer part, and the top
// 64 bits of the fraction (truncated). Because the scale is rounded up, the
// split value is never below the exact one and exceeds it by less than
// (exact value) * 2^-63.
struct scaled_value {
    std::uint64_t integer;
    std::uint64_t fraction;
};

scaled_value scale_by_power_of_ten(std::uint32_t m, int q, int power) noexcept {
    assert(power >= power_min && power <= power_max);
    const power_of_ten& scale = powers_of_ten[static_cast<std::size_t>(power - power_min)];
    const std::uint64_t low_part = std::uint64_t{m} * (scale.significand & 0xFFFFFFFFu);
    const std::uint64_t high_part = std::uint64_t{m} * (scale.significand >> 32);
    const std::uint64_t lo = low_part + (high_part << 32);
    const std::uint64_t hi = (high_part >> 32) + (lo < low_part ? 1u : 0u);
    // 2^86 <= hi:lo < 2^88 (m >= 2^23, significand >= 2^63) and the result
    // lies in [1, 2^31), so the binary point sits between bits 55 and 88.
    const int shift = -(q + scale.exponent);
    assert(shift > 55 && shift < 88);
    if (shift >= 64) {
        const int s = shift - 64;
        return {hi >> s, s == 0 ? lo : (hi << (64 - s)) | (lo >> s)};
    }
    return {(hi << (64 - shift)) | (lo >> shift), lo << (64 - shift)};
}

// Whether m * 2^q * 10^power is exactly an integer plus one half, that is
// whether twice it, m * 5^power * 2^(q + power + 1), is an odd integer.
bool is_exact_tie(std::uint32_t m, int q, int power) noexcept {
    if (std::countr_zero(m) + q + power + 1 != 0) return false;
    if (power >= 0) return true;
    // m < 2^24 < 5^11, so beyond 5^10 no power of five divides it.
    return -power <= 10 &&
           m % powers_of_five_32[static_cast<std::size_t>(-power)] == 0;
}

// Rounds m * 2^q (2^23 <= m < 2^24) to 1 <= digits <= 9 significant digits:
// n < 10^digits and the decimal exponent p. Returns false, leaving the
// outputs unspecified, in the rare case that 64 bits of fraction cannot
// decide the rounding and it is not an exact tie.
bool round_quickly(std::uint32_t m, int q, int digits, std::uint32_t& n_out, int& p_out) noexcept {
    // 10^(p - 1) <= 2^(q + 23) <= value < 2^(q + 24) < 10^(p + 1), so the
    // scaled value lies in [10^(d-1), 2 * 10^d). When it reaches 10^d the
    // decimal exponent is p + 1 and the rounding is at its last digit.
    //
    // The scaled value is at most its integer part * 2^-63 < 2^-32 above the
    // exact one. A fraction below one half is then surely below it, one more
    // than 2^-32 above it surely above it; only the band between needs the
    // exact tie test, and beyond a tie the full expansion. Lying near an
    // integer needs no care: either side rounds to the same result.
    int p = floor_log10_pow2(q + 23) + 1;
    const scaled_value scaled = scale_by_power_of_ten(m, q, digits - p);
    const std::uint32_t limit = powers_of_ten_32[static_cast<std::size_t>(digits)];
    std::uint32_t n = static_cast<std::uint32_t>(scaled.integer);
    constexpr std::uint64_t half = std::uint64_t{1} << 63;
    constexpr std::uint64_t doubt = std::uint64_t{1} << 32;
    // When the integer part reaches 10^d, (n + fraction) / 10 is rounded
    // instead: its last digit r and the fraction decide, and r = 5 with a
    // fraction below 2^-32 is the doubtful band. Both outcomes are worked out
    // and one is picked without a branch, since which one applies changes
    // from value to value and would often be mispredicted.
    const bool past_decade = n >= limit;
    const std::uint32_t r = n % 10;
    const bool up_here = scaled.fraction > half + doubt;
    const bool doubtful_here = scaled.fraction - half <= doubt;  // wraps round below half
    const bool up_past = (r > 5) | ((r == 5) & (scaled.fraction >= doubt));
    const bool doubtful_past = (r == 5) & (scaled.fraction < doubt);
    n = past_decade ? n / 10 : n;
    p += past_decade ? 1 : 0;
    bool up = past_decade ? up_past : up_here;
    if (past_decade ? doubtful_past : doubtful_here) {
        if (!is_exact_tie(m, q, digits - p)) return false;
        up = (n & 1u) != 0;
    }
    n += up ? 1u : 0u;
    if (n == limit) {
        n = powers_of_ten_32[static_cast<std::size_t>(digits - 1)];
        ++p;
    }
    n_out = n;
    p_out = p;
    return true;
}

// ---------------------------------------------------------------------------
// Exact path: every decimal digit of the value, by multiword arithmetic. Serves
// more than nine digits and the rare rounding the fast path cannot decide.

// m * 5^149 < 2^24 * 2^346 < 2^384: twelve limbs hold the largest integer made.
constexpr std::size_t exact_limbs = 12;
// 2^370 < 10^112: at most 112 digits, in groups of nine.
constexpr std::size_t exact_groups = 13;

struct exact_decimal {
    std::array<char, exact_groups * 9> digits;  // most significant first, digits[0] != '0'
    int count;                                  // digits in use
    int exponent;                               // value = 0.digits * 10^exponent
};

// The value m * 2^q, m != 0, written out in full.
void expand_exactly(std::uint32_t m, int q, exact_decimal& out) noexcept {
    const int zeros = std::countr_zero(m);
    m >>= zeros;
    q += zeros;  // now q >= -149 and m * 2^q < 2^128
    std::array<std::uint32_t, exact_limbs> x{};
    std::size_t size = 1;
    x[0] = m;
    int decimal_shift = 0;
    if (q >= 0) {
        const std::size_t words = static_cast<std::size_t>(q / 32);
        const int bits = q % 32;
        const std::uint64_t wide = std::uint64_t{m} << bits;
        x[0] = 0;
        x[words] = static_cast<std::uint32_t>(wide);
        x[words + 1] = static_cast<std::uint32_t>(wide >> 32);
        size = words + 2;
    } else {
        // m * 2^q = m * 5^-q / 10^-q; multiply by 5^13 < 2^32 at a time.
        decimal_shift = q;
        for (int left = -q; left > 0; left -= 13) {
            const std::uint32_t factor = powers_of_five_32[static_cast<std::size_t>(left < 13 ? left : 13)];
            std::uint64_t carry = 0;
            for (std::size_t i = 0; i < size; ++i) {
                const std::uint64_t product = std::uint64_t{x[i]} * factor + carry;
                x[i] = static_cast<std::uint32_t>(product);
                carry = product >> 32;
            }
            if (carry != 0) x[size++] = static_cast<std::uint32_t>(carry);
        }
    }
    while (size > 0 && x[size - 1] == 0) --size;

    // Nine digits at a time from the low end.
    std::array<std::uint32_t, exact_groups> groups{};
    std::size_t group_count = 0;
    while (size > 0) {
        std::uint64_t remainder = 0;
        for (std::size_t i = size; i-- > 0;) {
            const std::uint64_t dividend = (remainder << 32) | x[i];
            x[i] = static_cast<std::uint32_t>(dividend / 1000000000u);
            remainder = dividend % 1000000000u;
        }
        groups[group_count++] = static_cast<std::uint32_t>(remainder);
        while (size > 0 && x[size - 1] == 0) --size;
    }

    char* cursor = out.digits.data();
    std::uint32_t top = groups[group_count - 1];
    char top_text[9];
    int top_length = 0;
    do {
        top_text[8 - top_length++] = static_cast<char>('0' + top % 10);
        top /= 10;
    } while (top != 0);
    std::memcpy(cursor, top_text + 9 - top_length, static_cast<std::size_t>(top_length));
    cursor += top_length;
    for (std::size_t g = group_count - 1; g-- > 0;) {
        std::uint32_t group = groups[g];
        for (int i = 8; i >= 0; --i) {
            cursor[i] = static_cast<char>('0' + group % 10);
            group /= 10;
        }
        cursor += 9;
    }
    out.count = static_cast<int>(cursor - out.digits.data());
    out.exponent = out.count + decimal_shift;
}

// Rounds to `digits` significant digits, to nearest with ties to even.
void round_exactly(exact_decimal& x, int digits) noexcept {
    if (digits >= x.count) return;
    const std::size_t cut = static_cast<std::size_t>(digits);
    const char next = x.digits[cut];
    bool up = next > '5';
    if (next == '5') {
        bool beyond = false;
        for (std::size_t i = cut + 1; i < static_cast<std::size_t>(x.count); ++i) beyond = beyond || x.digits[i] != '0';
        up = beyond || ((x.digits[cut - 1] - '0') & 1) != 0;
    }
    x.count = digits;
    if (!up) return;
    for (std::size_t i = cut; i-- > 0;) {
        if (x.digits[i] != '9') {
            ++x.digits[i];
            return;
        }
        x.digits[i] = '0';
    }
    // All nines: 0.99..9 rounds up to 0.10..0 one decade higher.
    x.digits[0] = '1';
    ++x.exponent;
}

// ---------------------------------------------------------------------------
// Layout.

void fill_asterisks(char* out, int width) noexcept {
    std::memset(out, '*', static_cast<std::size_t>(width));
}

bool write_right_justified(char* out, int width, std::string_view text) noexcept {
    const std::size_t length = text.size();
    const std::size_t columns = static_cast<std::size_t>(width);
    if (length > columns) return false;
    std::memset(out, ' ', columns - length);
    std::memcpy(out + (columns - length), text.data(), length);
    return true;
}

// Writes everything but the digits: blanks, "-", the "0" where there is a
// column to spare for it, ".", and the four-column exponent. The caller has
// checked that width >= digits + 5 (+1 if negative). Returns the column of the
// first digit.
char* lay_out_finite(char* out, int width, int digits, bool negative, int exponent) noexcept {
    char* const end = out + width;
    char* const first_digit = end - 4 - digits;
    char* const point = first_digit - 1;
    if (point - out >= 2) {
        // Room for "-0" or " 0": the usual case, laid out without a branch on
        // the sign. Blanks go eight at a time where the field is long enough
        // (overlap past the blanks is overwritten); fields are short, and a
        // call to memset would cost more than the rest of the layout.
        char* blank = out;
        while (blank < point - 1) {
            if (end - blank >= 8) {
                std::memcpy(blank, "        ", 8);
                blank += 8;
            } else {
                *blank++ = ' ';
            }
        }
        point[-2] = negative ? '-' : ' ';
        point[-1] = '0';
    } else if (point - out == 1) {
        out[0] = negative ? '-' : '0';
    }
    *point = '.';
    char* const exponent_part = end - 4;
    const char sign = exponent < 0 ? '-' : '+';
    const unsigned magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
    assert(magnitude < 1000);
    if (magnitude < 100) {
        exponent_part[0] = 'E';
        exponent_part[1] = sign;
    } else {
        // Three exponent digits push the letter out. Binary32 never needs it.
        exponent_part[0] = sign;
        exponent_part[1] = static_cast<char>('0' + magnitude / 100);
    }
    std::memcpy(exponent_part + 2, &digit_pairs[2 * (magnitude % 100)], 2);
    return first_digit;
}

// The `digits` digits of n < 10^digits, right to left.
void write_digits(char* first, int digits, std::uint32_t n) noexcept {
    char* cursor = first + digits;
    while (cursor - first >= 2) {
        cursor -= 2;
        std::memcpy(cursor, &digit_pairs[2 * (n % 100)], 2);
        n /= 100;
    }
    if (cursor != first) *first = static_cast<char>('0' + n);
}

}  // namespace

bool render_e_field(std::uint32_t bits, int width, int digits, char* out) noexcept {
    if (width <= 0) return false;
    const bool sign_bit = (bits >> 31) != 0;
    const int biased = static_cast<int>((bits >> 23) & 0xFFu);
    const std::uint32_t fraction = bits & 0x7FFFFFu;

    if (biased == 0xFF) {
        if (fraction != 0) {
            if (write_right_justified(out, width, "NaN")) return true;
        } else if (write_right_justified(out, width, sign_bit ? "-Infinity" : "Infinity") ||
                   write_right_justified(out, width, sign_bit ? "-Inf" : "Inf")) {
            return true;
        }
        fill_asterisks(out, width);
        return false;
    }

    const bool is_zero = biased == 0 && fraction == 0;
    const bool negative = sign_bit && !is_zero;
    if (digits < 1 || digits > width - 5 - (negative ? 1 : 0)) {
        fill_asterisks(out, width);
        return false;
    }

    // The digits end up either as the integer n < 10^d (zero included) or,
    // from the exact path, as text.
    std::uint32_t n = 0;
    int p = 0;
    exact_decimal exact;
    bool is_exact = false;
    if (!is_zero) {
        // value = m * 2^q with the significand brought to 24 bits, so that
        // 2^(q + 23) <= value < 2^(q + 24) for subnormals too.
        std::uint32_t m = biased == 0 ? fraction : fraction | 0x800000u;
        int q = (biased == 0 ? 1 : biased) - 150;
        const int lift = std::countl_zero(m) - 8;
        m <<= lift;
        q -= lift;
        is_exact = digits > fast_digits_max || !round_quickly(m, q, digits, n, p);
        if (is_exact) {
            expand_exactly(m, q, exact);
            round_exactly(exact, digits);
            p = exact.exponent;
        }
    }

    char* const first = lay_out_finite(out, width, digits, negative, p);
    if (is_exact) {
        std::memcpy(first, exact.digits.data(), static_cast<std::size_t>(exact.count));
        std::memset(first + exact.count, '0', static_cast<std::size_t>(digits - exact.count));
    } else {
        write_digits(first, digits, n);
    }
    return true;
}

}  // namespace textio
