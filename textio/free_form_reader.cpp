#include "textio/free_form_reader.hpp"

#include "platform/memory_ops.hpp"
#include "textio/connection.hpp"
#include "textio/decimal_to_binary.hpp"
#include "textio/record_io.hpp"

#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

namespace textio {
namespace {

// Holds one quoted string; its last byte is never filled, so a string has at
// most 2049 characters.
constexpr std::size_t string_buffer_bytes = 2050;

// What the numeric lexer makes of each byte. Zero-initialised entries are invalid.
enum class number_byte : std::uint8_t { invalid, digit, sign, point, exponent, word_letter, terminator, star };

enum class value_class : std::uint8_t { null, number, logical, string, slash };

template <typename T>
constexpr void mark(std::array<T, 256>& table, std::string_view bytes, T value) {
    for (const char ch : bytes) table[static_cast<unsigned char>(ch)] = value;
}

constexpr std::array<number_byte, 256> number_bytes = [] {
    std::array<number_byte, 256> table{};
    mark(table, "0123456789", number_byte::digit);
    mark(table, "+-", number_byte::sign);
    mark(table, ".", number_byte::point);
    mark(table, "DEQdeq", number_byte::exponent);
    mark(table, "INin", number_byte::word_letter);
    mark(table, " \t,/)", number_byte::terminator);
    mark(table, "*", number_byte::star);
    return table;
}();

// Passed over between values. CR and LF can only occur inside a record here.
constexpr std::array<bool, 256> blank_bytes = [] {
    std::array<bool, 256> table{};
    mark(table, " \t\r\n", true);
    return table;
}();

// Ends a special word (INF, NAN and kin); "*" does not, "(" is handled apart.
constexpr std::array<bool, 256> word_end_bytes = [] {
    std::array<bool, 256> table{};
    mark(table, " \t,/)", true);
    return table;
}();

[[nodiscard]] constexpr unsigned char byte_of(char ch) noexcept { return static_cast<unsigned char>(ch); }
[[nodiscard]] constexpr bool is_digit(char ch) noexcept { return ch >= '0' && ch <= '9'; }
[[nodiscard]] constexpr char to_lower(char ch) noexcept {
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
}
[[nodiscard]] constexpr bool is_logical_start(char ch) noexcept {
    const char lower = to_lower(ch);
    return lower == 't' || lower == 'f';
}
[[nodiscard]] constexpr bool is_sign(char ch) noexcept { return ch == '+' || ch == '-'; }

// Eight bytes from p as one word, p[0] in the lowest byte on any machine.
[[nodiscard]] std::uint64_t load_word(const char* p) noexcept {
    std::uint64_t word = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&word, p, sizeof word);
    } else {
        for (int i = 7; i >= 0; --i) word = word << 8 | byte_of(p[i]);
    }
    return word;
}

[[nodiscard]] constexpr std::uint64_t repeat_byte(std::uint8_t byte) noexcept {
    return std::uint64_t{0x0101010101010101} * byte;
}

// How many bytes of word, from the lowest, are ASCII digits: 0..8. XOR with
// "0" maps the digits, and only them, to 0..9; adding 0x76 then sets the high
// bit of a byte from 10 to 0x7F, and OR that of a byte of 0x80 or more. The
// addition can carry out of a byte, but only upward, past the first non-digit,
// so the lowest flagged byte is always the right one.
[[nodiscard]] constexpr int count_leading_digits(std::uint64_t word) noexcept {
    const std::uint64_t t = word ^ repeat_byte('0');
    return std::countr_zero(((t + repeat_byte(0x76)) | t) & repeat_byte(0x80)) / 8;
}

// Truncation toward zero; anything outside the 32-bit range, and NaN (which
// fails both comparisons), becomes the most negative value.
[[nodiscard]] std::int32_t truncate_to_int32(double value) noexcept {
    if (value > -2147483649.0 && value < 2147483648.0) return static_cast<std::int32_t>(value);
    return std::numeric_limits<std::int32_t>::min();
}

[[nodiscard]] std::optional<std::int32_t> convert_int32(const char* text, std::size_t length, bool integer_form) noexcept {
    if (integer_form) return parse_int32(text, length);
    const std::optional<double> value = parse_double(text, length);
    if (!value) return std::nullopt;
    return truncate_to_int32(*value);
}

// The value context of one statement. The cursor walks the current record in
// place; a number's token is a start and length inside that record, so the
// only copying is of quoted strings into the statement's string buffer.
class statement_reader {
public:
    explicit statement_reader(connection& c) noexcept : c_(c) { take_record(); }
    ~statement_reader() {
        if (strings_ != nullptr) memory_->release(strings_);
    }
    statement_reader(const statement_reader&) = delete;
    statement_reader& operator=(const statement_reader&) = delete;

    [[nodiscard]] message transfer(const read_item& item);

private:
    enum class token_end : std::uint8_t { value, star, bad };

    [[nodiscard]] message search();
    [[nodiscard]] bool lex_plain_number() noexcept;
    [[nodiscard]] token_end lex_number();
    void lex_word(std::size_t start, std::size_t letter);
    [[nodiscard]] message read_string();
    [[nodiscard]] message store(const read_item& item) const;
    [[nodiscard]] message store_number(const read_item& item) const;
    [[nodiscard]] message finish_pair();
    [[nodiscard]] message pass_over_second_number();
    [[nodiscard]] message skip_blanks_across_records();
    [[nodiscard]] message leave_record();
    void take_record() noexcept;
    void detach_repeated_token();

    void skip_blanks() noexcept {
        std::size_t at = cursor_;
        while (at < length_ && blank_bytes[byte_of(record_[at])]) ++at;
        cursor_ = at;
    }
    // Whether the last non-blank byte before end in the current record is a comma.
    [[nodiscard]] bool comma_before(std::size_t end) const noexcept {
        while (end > 0 && blank_bytes[byte_of(record_[end - 1])]) --end;
        return end > 0 && record_[end - 1] == ',';
    }
    // Eight bytes at a time while eight are left in the record, then one by one.
    [[nodiscard]] std::size_t skip_digits(std::size_t at) const noexcept {
        while (length_ - at >= 8) {
            const int run = count_leading_digits(load_word(record_ + at));
            at += static_cast<std::size_t>(run);
            if (run < 8) return at;
        }
        while (at < length_ && is_digit(record_[at])) ++at;
        return at;
    }

    connection& c_;
    // The string buffer is taken at the statement's first quoted string, not
    // at its start: values are almost never strings, and a heap round trip
    // on every statement would add about a third to the cost of reading a
    // typical one.
    char* strings_ = nullptr;
    const platform::memory_ops* memory_ = nullptr;
    const char* record_ = nullptr;
    std::size_t length_ = 0;
    std::size_t cursor_ = 0;

    // The value last found.
    value_class class_ = value_class::null;
    const char* token_ = nullptr;
    std::size_t token_length_ = 0;
    bool integer_form_ = false;
    std::int32_t repeat_remaining_ = 0;

    bool in_pair_ = false;
    // A slash, or a null value inside a pair, has ended the statement's input.
    bool input_ended_ = false;
    bool new_record_ = true;
    bool separator_taken_ = false;
    bool crossed_ = false;
    bool has_text_ = false;

    // A repeated token must outlive its record only when the rest of a pair
    // runs onto the next record; its conversions are then made beforehand.
    bool detached_ = false;
    std::optional<std::int32_t> detached_int_;
    std::optional<std::uint32_t> detached_single_;
};

void statement_reader::take_record() noexcept {
    record_ = record_text(c_);
    length_ = record_length(c_);
    cursor_ = 0;
}

void statement_reader::detach_repeated_token() {
    if (repeat_remaining_ == 0 || class_ != value_class::number || detached_) return;
    detached_int_ = convert_int32(token_, token_length_, integer_form_);
    detached_single_ = parse_single_bits(token_, token_length_);
    detached_ = true;
}

message statement_reader::leave_record() {
    if (has_text_) crossed_ = true;
    if (!separator_taken_ && comma_before(length_)) separator_taken_ = true;
    detach_repeated_token();
    if (const message m = read_record(c_); m != message::none) return m;
    take_record();
    new_record_ = true;
    return message::none;
}

message statement_reader::skip_blanks_across_records() {
    for (;;) {
        skip_blanks();
        if (cursor_ < length_) return message::none;
        if (const message m = leave_record(); m != message::none) return m;
    }
}

message statement_reader::transfer(const read_item& item) {
    // Most items take a plain number from the current record, which needs
    // none of the search's commas, record ends, repeats or pairs: the state
    // the search would leave is set directly.
    if (!input_ended_ && repeat_remaining_ == 0 && !in_pair_) {
        skip_blanks();
        if (cursor_ < length_ && lex_plain_number()) {
            has_text_ = true;
            separator_taken_ = false;
            crossed_ = false;
            detached_ = false;
            class_ = value_class::number;
            new_record_ = false;
            return store_number(item);
        }
    }
    message m = message::none;
    if (input_ended_) {
        // Left as it was.
    } else if (repeat_remaining_ > 0) {
        --repeat_remaining_;
        m = store(item);
    } else {
        // The pair form carries its marks from item to item.
        if (!in_pair_) {
            separator_taken_ = false;
            crossed_ = false;
        }
        m = search();
        if (m == message::none) {
            if (class_ == value_class::slash || (class_ == value_class::null && in_pair_)) {
                input_ended_ = true;
            } else {
                m = store(item);
                if (m == message::none && in_pair_ && class_ == value_class::number &&
                    item.kind == item_kind::single_real)
                    m = finish_pair();
            }
        }
    }
    new_record_ = false;
    return m;
}

message statement_reader::search() {
    detached_ = false;
    bool has_factor = false;
    std::int32_t factor = 0;
    // Cleared right after a repeat factor: its value starts at the cursor.
    bool skip = true;
    for (;;) {
        if (skip) {
            skip_blanks();
            if (cursor_ == length_) {
                if (const message m = leave_record(); m != message::none) return m;
                continue;
            }
            has_text_ = true;
        }
        skip = true;

        const char ch = record_[cursor_];
        if (ch == '/') {
            class_ = value_class::slash;
        } else if (ch == ',') {
            // A comma is a null value exactly when no value stands between it
            // and the previous comma or the start of the statement's input.
            if (new_record_) {
                if (crossed_ && !separator_taken_) {
                    ++cursor_;  // the separator of the value before the record end
                    new_record_ = false;
                    continue;
                }
            } else if (!separator_taken_ && !comma_before(cursor_)) {
                ++cursor_;
                separator_taken_ = true;
                continue;
            }
            ++cursor_;
            class_ = value_class::null;
        } else if (ch == '(') {
            if (in_pair_) return message::list_directed_syntax_error;
            in_pair_ = true;
            separator_taken_ = false;
            ++cursor_;
            continue;
        } else if (ch == ')') {
            return message::list_directed_syntax_error;
        } else if (ch == '"' || ch == '\'') {
            if (const message m = read_string(); m != message::none) return m;
            class_ = value_class::string;
        } else if (is_logical_start(ch) ||
                   (ch == '.' && cursor_ + 1 < length_ && is_logical_start(record_[cursor_ + 1]))) {
            // Never a valid value for a numeric item, so its extent is of no interest.
            class_ = value_class::logical;
        } else if (lex_plain_number()) {
            class_ = value_class::number;
        } else {
            const token_end end = lex_number();
            if (end == token_end::bad) return message::list_directed_syntax_error;
            if (end == token_end::star) {
                if (token_length_ == 0 || has_factor) return message::list_directed_syntax_error;
                const std::optional<std::int32_t> r = parse_int32(token_, token_length_);
                if (!r) return message::input_conversion_error;
                has_factor = true;
                factor = *r;
                ++cursor_;
                if (cursor_ == length_) {
                    class_ = value_class::null;
                } else if (const char next = record_[cursor_]; next == ' ' || next == '\t' || next == ',') {
                    ++cursor_;
                    class_ = value_class::null;
                } else {
                    skip = false;
                    continue;
                }
            } else {
                class_ = value_class::number;
            }
        }
        // A factor of 0 or less gives one use, like 1.
        repeat_remaining_ = has_factor && factor > 1 ? factor - 1 : 0;
        return message::none;
    }
}

// Most tokens have the plain form [sign] digits [. digits] [letter [sign]
// digits], with a digit in the mantissa and after an exponent's sign, and end
// at a terminator or the record's end: each is taken here in one pass. The
// full lexer accepts every such token, with the same end and form; anything
// else, "*" included, is left to it, and nothing is consumed then.
inline bool statement_reader::lex_plain_number() noexcept {
    const std::size_t start = cursor_;
    std::size_t at = start;
    if (is_sign(record_[at])) ++at;
    const std::size_t mantissa = at;
    at = skip_digits(at);
    const bool point = at < length_ && record_[at] == '.';
    if (point) at = skip_digits(at + 1);
    if (at - mantissa == (point ? 1U : 0U)) return false;  // no digit
    const bool exponent = at < length_ && number_bytes[byte_of(record_[at])] == number_byte::exponent;
    if (exponent) {
        ++at;
        if (at < length_ && is_sign(record_[at])) {
            const std::size_t digits = ++at;
            at = skip_digits(at);
            if (at == digits) return false;
        } else {
            at = skip_digits(at);
        }
    }
    if (at < length_ && number_bytes[byte_of(record_[at])] != number_byte::terminator) return false;
    token_ = record_ + start;
    token_length_ = at - start;
    integer_form_ = !point && !exponent;
    cursor_ = at;
    return true;
}

statement_reader::token_end statement_reader::lex_number() {
    const std::size_t start = cursor_;
    std::size_t at = start;
    // Also stands for "a digit since the token's start": there is no sign before the first.
    bool digit_since_sign = false;
    bool after_sign = false;
    bool point = false;
    bool exponent = false;
    while (at < length_) {
        const char ch = record_[at];
        // Runs of digits are most of every token: keep them out of the dispatch.
        if (is_digit(ch)) {
            at = skip_digits(at);
            digit_since_sign = true;
            after_sign = false;
            continue;
        }
        const number_byte kind = number_bytes[byte_of(ch)];
        if (kind == number_byte::terminator) break;
        if (kind == number_byte::point) {
            if (point) return token_end::bad;
            point = true;
            after_sign = false;
        } else if (kind == number_byte::sign) {
            if (after_sign) return token_end::bad;
            after_sign = true;
            digit_since_sign = false;
        } else if (kind == number_byte::exponent) {
            if (exponent || !digit_since_sign) return token_end::bad;
            exponent = true;
            after_sign = false;
        } else if (kind == number_byte::word_letter && (at == start || (at == start + 1 && after_sign))) {
            lex_word(start, at);
            return token_end::value;
        } else if (kind == number_byte::star) {
            token_ = record_ + start;
            token_length_ = at - start;
            cursor_ = at;
            return token_end::star;
        } else {
            return token_end::bad;
        }
        ++at;
    }
    if (!digit_since_sign) return token_end::bad;
    token_ = record_ + start;
    token_length_ = at - start;
    integer_form_ = !point && !exponent;
    cursor_ = at;
    return token_end::value;
}

// The word is taken unchecked; the conversion decides whether it is a value.
void statement_reader::lex_word(std::size_t start, std::size_t letter) {
    const bool nan_word = to_lower(record_[letter]) == 'n';
    std::size_t at = letter + 1;
    while (at < length_) {
        const char ch = record_[at];
        if (word_end_bytes[byte_of(ch)]) break;
        if (ch == '(') {
            if (!nan_word) break;
            // A NaN payload runs to its ")", blanks and commas included.
            const void* close = std::memchr(record_ + at + 1, ')', length_ - at - 1);
            at = close != nullptr ? static_cast<std::size_t>(static_cast<const char*>(close) - record_) + 1 : length_;
            continue;
        }
        ++at;
    }
    token_ = record_ + start;
    token_length_ = at - start;
    integer_form_ = true;
    cursor_ = at;
}

message statement_reader::read_string() {
    if (strings_ == nullptr) {
        memory_ = &platform::get_memory_ops();
        strings_ = static_cast<char*>(memory_->allocate(string_buffer_bytes));
        if (strings_ == nullptr) return message::insufficient_virtual_memory;
    }
    const char delimiter = record_[cursor_++];
    std::size_t count = 0;
    for (;;) {
        if (cursor_ == length_) {
            // The record end adds nothing to the string.
            if (read_record(c_) != message::none) return message::list_directed_syntax_error;
            take_record();
            new_record_ = true;
            continue;
        }
        const char ch = record_[cursor_++];
        if (ch == delimiter) {
            if (cursor_ == length_ || record_[cursor_] != delimiter) break;
            ++cursor_;
        }
        if (count == string_buffer_bytes - 1) return message::list_directed_syntax_error;
        strings_[count++] = ch;
    }
    token_ = strings_;
    token_length_ = count;
    return message::none;
}

message statement_reader::store(const read_item& item) const {
    switch (class_) {
    case value_class::null:
    case value_class::slash:
        return message::none;
    case value_class::logical:
    case value_class::string:
        return message::input_conversion_error;
    case value_class::number:
        break;
    }
    return store_number(item);
}

inline message statement_reader::store_number(const read_item& item) const {
    if (item.kind == item_kind::int32) {
        const std::optional<std::int32_t> value =
            detached_ ? detached_int_ : convert_int32(token_, token_length_, integer_form_);
        if (!value) return message::input_conversion_error;
        std::memcpy(item.storage, &*value, sizeof *value);
    } else {
        const std::optional<std::uint32_t> bits = detached_ ? detached_single_ : parse_single_bits(token_, token_length_);
        if (!bits) return message::input_conversion_error;
        std::memcpy(item.storage, &*bits, sizeof *bits);
    }
    return message::none;
}

// After the first number of "(a, b)" is stored: the comma, b passed over
// unconverted, and the closing ")".
message statement_reader::finish_pair() {
    if (const message m = skip_blanks_across_records(); m != message::none) return m;
    if (record_[cursor_] != ',') return message::list_directed_syntax_error;
    ++cursor_;
    if (const message m = skip_blanks_across_records(); m != message::none) return m;
    if (const message m = pass_over_second_number(); m != message::none) return m;
    if (const message m = skip_blanks_across_records(); m != message::none) return m;
    if (record_[cursor_] != ')') return message::list_directed_syntax_error;
    ++cursor_;
    in_pair_ = false;
    return message::none;
}

// On success the cursor is past b and any NaN payload. A payload must be
// followed at once by the pair's ")".
message statement_reader::pass_over_second_number() {
    constexpr message malformed = message::list_directed_syntax_error;
    std::size_t at = cursor_;
    if (at < length_ && (record_[at] == '+' || record_[at] == '-')) ++at;
    if (at == length_) return malformed;
    const auto pass_prefix = [&](std::string_view word) {
        for (std::size_t matched = 0; matched < word.size() && at < length_ && to_lower(record_[at]) == word[matched];
             ++matched)
            ++at;
    };
    const char first = record_[at];
    if (is_digit(first)) {
        at = skip_digits(at);
        if (at < length_ && record_[at] == '.') at = skip_digits(at + 1);
        if (at < length_ && number_bytes[byte_of(record_[at])] == number_byte::exponent) at = skip_digits(at + 1);
        cursor_ = at;
        return message::none;
    }
    if (to_lower(first) == 'i') {
        pass_prefix("infinity");
        cursor_ = at;
        return message::none;
    }
    if (to_lower(first) != 'n') return malformed;
    pass_prefix("nan");
    cursor_ = at;
    if (const message m = skip_blanks_across_records(); m != message::none) return m;
    if (record_[cursor_] != '(') return message::none;
    const void* close = std::memchr(record_ + cursor_, ')', length_ - cursor_);
    if (close == nullptr) return malformed;
    cursor_ = static_cast<std::size_t>(static_cast<const char*>(close) - record_) + 1;
    return cursor_ < length_ && record_[cursor_] == ')' ? message::none : malformed;
}

}  // namespace

message read_values(std::int32_t unit, std::span<const read_item> items) {
    connection* c = find_connection(unit);
    assert(c != nullptr && c->state == connection_state::open);
    if (const message m = read_record(*c); m != message::none) return m;

    // The reader returns the string buffer, if it took one, when it goes.
    // What the last record still holds is dropped: the next statement reads a new one.
    statement_reader reader(*c);
    for (const read_item& item : items)
        if (const message m = reader.transfer(item); m != message::none) return m;
    return message::none;
}

}  // namespace textio
