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

// Unsigned integers of 32 * N bits as 32-bit limbs, least significant first;
// only what building the tables needs.
template <std::size_t N>
using limbs = std::array<std::uint32_t, N>;
using limbs128 = limbs<4>;

template <std::size_t N>
constexpr limbs<N> multiply_small(limbs<N> x, std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : x) {
        const std::uint64_t product = std::uint64_t{limb} * factor + carry;
        limb = static_cast<std::uint32_t>(product);
        carry = product >> 32;
    }
    return x;
}

template <std::size_t N>
constexpr int bit_length(const limbs<N>& x) {
    for (std::size_t i = N; i-- > 0;) {
        if (x[i] != 0) return 32 * static_cast<int>(i) + static_cast<int>(std::bit_width(x[i]));
    }
    return 0;
}

template <std::size_t N>
constexpr bool test_bit(const limbs<N>& x, int bit) {
    return ((x[static_cast<std::size_t>(bit / 32)] >> (bit % 32)) & 1u) != 0;
}

template <std::size_t N>
constexpr limbs<N> shift_left_1(limbs<N> x) {
    for (std::size_t i = N - 1; i > 0; --i) x[i] = (x[i] << 1) | (x[i - 1] >> 31);
    x[0] <<= 1;
    return x;
}

template <std::size_t N>
constexpr bool is_less(const limbs<N>& a, const limbs<N>& b) {
    for (std::size_t i = N; i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i];
    }
    return false;
}

template <std::size_t N>
constexpr limbs<N> subtract(limbs<N> a, const limbs<N>& b) {
    std::uint32_t borrow = 0;
    for (std::size_t i = 0; i < N; ++i) {
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
    for (int i = 0; i < n; ++i) five_n = multiply_small(five_n, 5);
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

// Any width and digit count.
bool render_any_field(std::uint32_t bits, int width, int digits, char* out) noexcept {
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

// ---------------------------------------------------------------------------
// E12.3, the one form the program writes: a direct path for normal values.
//
// A binade of significands m (2^23 <= m < 2^24, value m * 2^q) holds at most
// one of the points 999.5 * 10^(p - 3) where the shown exponent steps from p
// to p + 1, so one comparison of m with a per-binade threshold gives p,
// rounding carry included. The scaled value x = m * 2^q * 10^(3 - p) then
// lies in [99.95, 999.5) and rounds to 100..999, and one 64-bit product of m
// and a multiplier rounded up from 2^(q + 53) * 10^(3 - p) is x * 2^53, a
// little too high. Zero, subnormals and the specials take the general path.

constexpr int e12_width = 12;
constexpr int e12_digits = 3;

// Both sides of m * 2^q >= 9995 * 10^(p - 4) as integers: at most
// 2^24 * 10^41 < 2^161 and 9995 * 2^149 < 2^163, inside six limbs.
using limbs192 = limbs<6>;

constexpr limbs192 shift_left(const limbs192& x, int bits) {
    limbs192 shifted{};
    const std::size_t words = static_cast<std::size_t>(bits / 32);
    const int rest = bits % 32;
    for (std::size_t i = words; i < shifted.size(); ++i) {
        const std::uint32_t carried = rest != 0 && i > words ? x[i - words - 1] >> (32 - rest) : 0;
        shifted[i] = (x[i - words] << rest) | carried;
    }
    return shifted;
}

constexpr limbs192 multiply_by_power_of_ten(limbs192 x, int power) {
    for (; power >= 9; power -= 9) x = multiply_small(x, powers_of_ten_32[9]);
    return multiply_small(x, powers_of_ten_32[static_cast<std::size_t>(power < 0 ? 0 : power)]);
}

// m * 2^q reaches 999.5 * 10^(p - 3), the least value shown with exponent
// p + 1 (999.5 itself is a tie and goes to the even 1000), when m * factor
// reaches bound.
struct next_exponent_test {
    limbs192 factor;
    limbs192 bound;

    constexpr next_exponent_test(int q, int p)
        : factor(multiply_by_power_of_ten(shift_left(limbs192{1}, q >= 0 ? q : 0), 4 - p)),
          bound(multiply_by_power_of_ten(shift_left(limbs192{9995}, q < 0 ? -q : 0), p - 4)) {}

    constexpr bool is_reached_by(std::uint32_t m) const { return !is_less(multiply_small(factor, m), bound); }
};

// The exponent shown for the least value 2^(q + 23) of a binade.
constexpr int find_e12_lower_exponent(int q) {
    // 10^(p - 1) <= 2^(q + 23) < 10^p, and 999.5 * 10^(p - 4) lies below
    // 10^(p - 1), so the binade starts at exponent p or p + 1.
    const int p = floor_log10_pow2(q + 23) + 1;
    return next_exponent_test(q, p).is_reached_by(std::uint32_t{1} << 23) ? p + 1 : p;
}

// Rounded up: the product m * multiplier then exceeds x * 2^53 by less than
// m * (1 + 2^-23) (one unit from this rounding, 2^-63 relative from the
// power of ten's), that is by less than 2^25. x < 999.5 and m >= 2^23 keep
// the multiplier below 2^40 and the product below 2^63.
constexpr std::uint64_t make_e12_multiplier(int q, int p) {
    const power_of_ten& scale = powers_of_ten[static_cast<std::size_t>(e12_digits - p - power_min)];
    const int shift = -(scale.exponent + q + 53);
    const std::uint64_t below = scale.significand & ((std::uint64_t{1} << shift) - 1);
    return (scale.significand >> shift) + (below != 0 ? 1u : 0u);
}

// Texts as words in the host's byte order, so that one store writes each.
template <typename word>
constexpr word pack_text(const char* text) {
    word packed = 0;
    for (std::size_t i = 0; i < sizeof(word); ++i) {
        const std::size_t byte = std::endian::native == std::endian::little ? i : sizeof(word) - 1 - i;
        packed |= static_cast<word>(static_cast<word>(static_cast<unsigned char>(text[i])) << (8 * byte));
    }
    return packed;
}

// Columns 8-11, "E+pp".
constexpr std::uint32_t pack_exponent_text(int p) {
    const int magnitude = p < 0 ? -p : p;
    const char text[4] = {'E', p < 0 ? '-' : '+', static_cast<char>('0' + magnitude / 10),
                          static_cast<char>('0' + magnitude % 10)};
    return pack_text<std::uint32_t>(text);
}

// Columns 0-7, "   0.ddd", for n = 100..999; a negative value has ' ' | 0x0D,
// '-', in column 2. Column 2 lies in the first four bytes of the word, which
// are its low half on a little-endian host and its high half otherwise.
constexpr int e12_n_min = 100;
constexpr int e12_n_max = 999;
constexpr std::uint32_t e12_minus = pack_text<std::uint32_t>("\0\0\x0D\0");
constexpr int e12_minus_shift = std::endian::native == std::endian::little ? 0 : 32;
static_assert((' ' | 0x0D) == '-');

constexpr auto e12_digit_texts = [] {
    std::array<std::uint64_t, e12_n_max - e12_n_min + 1> table{};
    for (int n = e12_n_min; n <= e12_n_max; ++n) {
        const char text[8] = {' ', ' ', ' ', '0', '.', static_cast<char>('0' + n / 100),
                              static_cast<char>('0' + n / 10 % 10), static_cast<char>('0' + n % 10)};
        table[static_cast<std::size_t>(n - e12_n_min)] = pack_text<std::uint64_t>(text);
    }
    return table;
}();

// One entry per sign and biased exponent, the top nine bits of the pattern;
// 32 bytes, so that an entry is one shift away from its index.
struct e12_binade {
    std::uint32_t last_lower;                     // greatest m shown with the lower exponent
    std::uint32_t minus;                          // e12_minus or 0
    std::array<std::uint32_t, 2> exponent_texts;  // for the lower exponent and the next
    std::array<std::uint64_t, 2> multipliers;     // for the lower exponent and the next
};

// The step comes from the multiplier of the lower exponent, which is rounded
// up by less than 2^-28 in x: the least m with m * multiplier reaching
// 999.5 * 2^53 is the least m shown with the next exponent, or one below it,
// and the exact test decides. A step that fails the exact test on either side
// is marked by last_lower = 0, which the check below rejects.
constexpr e12_binade make_e12_binade(int biased) {
    const int q = biased - 150;
    const int p = find_e12_lower_exponent(q);
    const std::array<std::uint64_t, 2> multipliers = {make_e12_multiplier(q, p), make_e12_multiplier(q, p + 1)};
    constexpr std::uint64_t next_point = std::uint64_t{1999} << 52;  // 999.5 * 2^53
    constexpr std::uint32_t none = std::uint32_t{1} << 24;
    const std::uint64_t estimate = (next_point + multipliers[0] - 1) / multipliers[0];
    const next_exponent_test test(q, p);
    std::uint32_t first_upper = none;
    if (estimate < none) {
        first_upper = static_cast<std::uint32_t>(estimate);
        if (!test.is_reached_by(first_upper)) ++first_upper;
    }
    const bool is_exact =
        (first_upper == none || test.is_reached_by(first_upper)) && !test.is_reached_by(first_upper - 1);
    return {is_exact ? first_upper - 1 : 0, 0, {pack_exponent_text(p), pack_exponent_text(p + 1)}, multipliers};
}

// Biased exponents 0 and 255 keep an empty entry: they never get this far.
constexpr auto e12_binades = [] {
    std::array<e12_binade, 512> table{};
    for (int biased = 1; biased <= 254; ++biased) {
        e12_binade entry = make_e12_binade(biased);
        table[static_cast<std::size_t>(biased)] = entry;
        entry.minus = e12_minus;
        table[static_cast<std::size_t>(256 + biased)] = entry;
    }
    return table;
}();

constexpr bool has_valid_e12_binades(const decltype(e12_binades)& table) {
    constexpr std::uint32_t m_min = std::uint32_t{1} << 23;
    constexpr std::uint32_t m_max = (std::uint32_t{1} << 24) - 1;
    constexpr std::uint64_t multiplier_limit = std::uint64_t{1} << 40;
    for (std::size_t biased = 1; biased <= 254; ++biased) {
        const e12_binade& b = table[biased];
        if (b.last_lower < m_min || b.last_lower > m_max || b.multipliers[0] >= multiplier_limit) return false;
        if (b.last_lower < m_max && b.multipliers[1] >= multiplier_limit) return false;
    }
    return true;
}
static_assert(sizeof(e12_binade) == 32);
static_assert(has_valid_e12_binades(e12_binades));
// [1, 2) is shown with exponent +01 throughout (the next step, 9.995, lies in
// [8, 16)); in [1/2, 1) the step to +01 comes at 0.9995 = 0xFFDF3B.9... * 2^-24.
static_assert(e12_binades[127].last_lower == 0xFFFFFFu &&
              e12_binades[127].exponent_texts[0] == pack_text<std::uint32_t>("E+01"));
static_assert(e12_binades[126].last_lower == 0xFFDF3Bu &&
              e12_binades[126].exponent_texts[1] == pack_text<std::uint32_t>("E+01"));

// Where x = m * 2^q * 10^k (k = 3 - p) can be an exact tie: twice it is an
// odd integer exactly when m has -(q + k + 1) trailing zeros and, for k < 0,
// 5^-k divides m (never beyond 5^10, as m < 2^24 < 5^11). trailing_zeros is
// -1 where neither can hold.
struct e12_tie_rule {
    std::int8_t trailing_zeros;
    std::uint8_t five_power;
};

constexpr e12_tie_rule make_e12_tie_rule(int q, int p) {
    const int k = e12_digits - p;
    const int zeros = -(q + k + 1);
    const int five_power = k < 0 ? -k : 0;
    if (zeros < 0 || zeros > 23 || five_power > 10) return {-1, 0};
    return {static_cast<std::int8_t>(zeros), static_cast<std::uint8_t>(five_power)};
}

// By biased exponent, for the lower exponent and the next.
constexpr auto e12_tie_rules = [] {
    std::array<std::array<e12_tie_rule, 2>, 256> table{};
    for (int biased = 1; biased <= 254; ++biased) {
        const int q = biased - 150;
        const int p = find_e12_lower_exponent(q);
        table[static_cast<std::size_t>(biased)] = {make_e12_tie_rule(q, p), make_e12_tie_rule(q, p + 1)};
    }
    return table;
}();

// m is a multiple of the odd d exactly when m * d^-1 mod 2^32, d^-1 the
// inverse of d modulo 2^32, is at most (2^32 - 1) / d: multiplying by d^-1
// maps the multiples of d, and only them, onto 0..(2^32 - 1) / d.
struct divisibility_test {
    std::uint32_t inverse;
    std::uint32_t limit;
};

constexpr auto five_power_tests = [] {
    std::array<divisibility_test, 11> table{};
    for (std::size_t j = 0; j < table.size(); ++j) {
        const std::uint32_t d = powers_of_five_32[j];
        std::uint32_t inverse = d;  // right in the low 3 bits; each step doubles them
        for (int step = 0; step < 4; ++step) inverse *= 2 - d * inverse;
        table[j] = {inverse, 0xFFFFFFFFu / d};
    }
    return table;
}();
static_assert(five_power_tests[3].inverse * 125u == 1u && five_power_tests[0].limit == 0xFFFFFFFFu);

// The scaled value x of a normal value, rounded up by less than 2^-28, in
// units of 2^-53 and with one half added: bits 53 and up hold x rounded
// unless bits 25 to 52 are all clear, which leaves x within 2^-28 of a
// midpoint.
struct e12_scaled {
    const e12_binade& binade;
    std::uint32_t m;
    std::size_t upper;  // 0 for the lower exponent, 1 for the next
    std::uint64_t rounded;

    explicit e12_scaled(std::uint32_t bits) noexcept
        : binade(e12_binades[bits >> 23]),
          m((bits & 0x7FFFFFu) | 0x800000u),
          upper((binade.last_lower - m) >> 31),  // wraps round when m > last_lower
          rounded(m * binade.multipliers[upper] + (std::uint64_t{1} << 52)) {}

    static constexpr std::uint64_t doubt_bits = (std::uint64_t{1} << 53) - (std::uint64_t{1} << 25);
    bool is_near_midpoint() const noexcept { return (rounded & doubt_bits) == 0; }
    std::uint64_t n() const noexcept { return rounded >> 53; }
};

void store_e12_field(char* out, const e12_binade& binade, std::size_t upper, std::uint64_t n) noexcept {
    assert(n >= e12_n_min && n <= e12_n_max);
    const std::uint64_t head = e12_digit_texts[static_cast<std::size_t>(n - e12_n_min)] | (std::uint64_t{binade.minus} << e12_minus_shift);
    std::memcpy(out, &head, 8);
    std::memcpy(out + 8, &binade.exponent_texts[upper], 4);
}

// An exact tie goes to the even n, anything else this close to a midpoint to
// the general path. Kept apart so that the common path needs few registers.
bool render_e12_3_near_midpoint(std::uint32_t bits, char* out) noexcept {
    const e12_scaled x(bits);
    const e12_tie_rule& rule = e12_tie_rules[(bits >> 23) & 0xFFu][x.upper];
    const divisibility_test& five = five_power_tests[rule.five_power];
    if (std::countr_zero(x.m) != rule.trailing_zeros || x.m * five.inverse > five.limit) {
        return render_any_field(bits, e12_width, e12_digits, out);
    }
    store_e12_field(out, x.binade, x.upper, x.n() & ~std::uint64_t{1});
    return true;
}

bool render_e12_3(std::uint32_t bits, char* out) noexcept {
    // Biased exponent 1..254, read off the pattern without its sign.
    if ((bits << 1) - (std::uint32_t{1} << 24) >= std::uint32_t{254} << 24) [[unlikely]] {
        if ((bits << 1) == 0) {
            std::memcpy(out, "   0.000E+00", e12_width);
            return true;
        }
        return render_any_field(bits, e12_width, e12_digits, out);
    }
    const e12_scaled x(bits);
    if (x.is_near_midpoint()) [[unlikely]] return render_e12_3_near_midpoint(bits, out);
    store_e12_field(out, x.binade, x.upper, x.n());
    return true;
}

}  // namespace

bool render_e_field(std::uint32_t bits, int width, int digits, char* out) noexcept {
    if (width != e12_width || digits != e12_digits) return render_any_field(bits, width, digits, out);
    return render_e12_3(bits, out);
}

}  // namespace textio
