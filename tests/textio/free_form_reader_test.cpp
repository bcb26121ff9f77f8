#include "textio/free_form_reader.hpp"

#include "platform/memory_ops.hpp"
#include "tests/support/files.hpp"
#include "textio/connection.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <initializer_list>
#include <vector>

namespace textio {
namespace {

using namespace std::string_literals;

// Results as the message numbers they are printed with.
constexpr int none = message_number(message::none);
constexpr int eof = message_number(message::end_of_file_during_read);
constexpr int syntax = message_number(message::list_directed_syntax_error);
constexpr int conversion = message_number(message::input_conversion_error);
constexpr int no_memory = message_number(message::insufficient_virtual_memory);

// What an item holds before the statement; an item left alone still holds it.
constexpr std::int32_t keep_int = -777777;
constexpr std::uint32_t keep = 0xDEADBEEF;

constexpr std::int32_t int_min = -2147483647 - 1;

constexpr std::uint32_t zero = 0x00000000;
constexpr std::uint32_t minus_zero = 0x80000000;
constexpr std::uint32_t half = 0x3F000000;
constexpr std::uint32_t one = 0x3F800000;
constexpr std::uint32_t one_and_half = 0x3FC00000;
constexpr std::uint32_t two = 0x40000000;
constexpr std::uint32_t three = 0x40400000;
constexpr std::uint32_t four = 0x40800000;
constexpr std::uint32_t five = 0x40A00000;
constexpr std::uint32_t six = 0x40C00000;
constexpr std::uint32_t seven = 0x40E00000;
constexpr std::uint32_t minus_three = 0xC0400000;
constexpr std::uint32_t hundred = 0x42C80000;
constexpr std::uint32_t infinity = 0x7F800000;
constexpr std::uint32_t minus_infinity = 0xFF800000;
constexpr std::uint32_t nan = 0xFFC00000;
constexpr std::uint32_t plus_nan = 0x7FC00000;

std::string join(std::initializer_list<std::string_view> parts) {
    std::string joined;
    for (const std::string_view part : parts) joined.append(part);
    return joined;
}

// Appended after the records of every statement expected to succeed: reading
// it next shows where the statement left the file.
constexpr std::int32_t next_value = 4321;
const std::string next_record = "\n4321\n";

// input.txt with the given bytes, connected to unit 10 for the object's lifetime.
class input_file {
public:
    explicit input_file(const std::string& bytes) {
        test_support::write_file("input.txt", bytes);
        EXPECT_EQ(open_connection(input_unit, "input.txt", 9), message::none);
    }
    ~input_file() { (void)close_connection(input_unit); }
    input_file(const input_file&) = delete;
    input_file& operator=(const input_file&) = delete;

private:
    test_support::scoped_work_dir dir_;
};

struct int_read {
    int result;
    std::int32_t value;
};

int_read read_int() {
    std::int32_t value = keep_int;
    const read_item items[] = {{item_kind::int32, &value}};
    const int result = message_number(read_values(input_unit, items));
    return {result, value};
}

struct vertex_read {
    int result;
    std::array<std::uint32_t, 3> bits;
};

vertex_read read_vertex() {
    std::array<float, 3> xyz{};
    xyz.fill(std::bit_cast<float>(keep));
    const read_item items[] = {{item_kind::single_real, &xyz[0]},
                               {item_kind::single_real, &xyz[1]},
                               {item_kind::single_real, &xyz[2]}};
    const int result = message_number(read_values(input_unit, items));
    return {result,
            {std::bit_cast<std::uint32_t>(xyz[0]), std::bit_cast<std::uint32_t>(xyz[1]),
             std::bit_cast<std::uint32_t>(xyz[2])}};
}

// One statement reading one integer item from records; a successful one must
// leave the file at the record after its last.
struct int_case {
    std::string records;
    int result;
    std::int32_t value;
};

// The same for the three single-precision items of a vertex.
struct vertex_case {
    std::string records;
    int result;
    std::array<std::uint32_t, 3> bits;
};

void expect_next_statement_reads_next_record() {
    const int_read next = read_int();
    EXPECT_EQ(next.result, none);
    EXPECT_EQ(next.value, next_value) << "the statement did not end at its last record";
}

void check(std::span<const int_case> cases) {
    for (const int_case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.records));
        const bool succeeds = c.result == none;
        const input_file file(succeeds ? join({c.records, next_record}) : c.records);
        const int_read got = read_int();
        EXPECT_EQ(got.result, c.result);
        EXPECT_EQ(got.value, c.value);
        if (succeeds) expect_next_statement_reads_next_record();
    }
}

void check(std::span<const vertex_case> cases) {
    for (const vertex_case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.records));
        const bool succeeds = c.result == none;
        const input_file file(succeeds ? join({c.records, next_record}) : c.records);
        const vertex_read got = read_vertex();
        EXPECT_EQ(got.result, c.result);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(got.bits[i], c.bits[i]) << "item " << i << std::hex << ": 0x" << got.bits[i];
        if (succeeds) expect_next_statement_reads_next_record();
    }
}


TEST(read_values, reads_an_integer_item_as_in_the_worked_examples) {
    const int_case cases[] = {
        {"3", none, 3},
        {"  +3  ", none, 3},
        {"3 4 5", none, 3},
        {"\n   \n3", none, 3},
        {"1,000", none, 1},
        {",", none, keep_int},
        {"/", none, keep_int},
        {"2*7", none, 7},
        {"3.9", none, 3},
        {"-3.9", none, -3},
        {"1e3", none, 1000},
        {"3e9", none, int_min},
        {"2147483648", conversion, keep_int},
        {"1+2", conversion, keep_int},
        {"INF", conversion, keep_int},
        {"T", conversion, keep_int},
        {"'3'", conversion, keep_int},
        {"abc", syntax, keep_int},
        {"3;", syntax, keep_int},
        {"0x10", syntax, keep_int},
        {"", eof, keep_int},
    };
    check(cases);
}

TEST(read_values, reads_a_vertex_as_in_the_worked_examples) {
    const vertex_case cases[] = {
        {"1.0 2.0 3.0", none, {one, two, three}},
        {"1,2,3", none, {one, two, three}},
        {"1 2\n3 4", none, {one, two, three}},
        {"1,,3", none, {one, keep, three}},
        {",2,3", none, {keep, two, three}},
        {"1 2 3 4", none, {one, two, three}},
        {"3*0.5", none, {half, half, half}},
        {"2*,7", none, {keep, keep, seven}},
        {"2* 7", none, {keep, keep, seven}},
        {"0*5 6 7", none, {five, six, seven}},
        {"1 /", none, {one, keep, keep}},
        {"1,\n,3", none, {one, keep, three}},
        {"1\n,2,3", none, {one, two, three}},
        {"1,\n2,3", none, {one, two, three}},
        {"1,,\n,3", none, {one, keep, keep}},
        {"1.5e-3 -2D2 +.5", none, {0x3AC49BA6, 0xC3480000, half}},
        {"1+2 3 4", none, {hundred, three, four}},
        {"nan inf -Infinity", none, {nan, infinity, minus_infinity}},
        {"(1.5, 2.5) 3 4", none, {one_and_half, three, four}},
        {"1.0 2.0 x", syntax, {one, two, keep}},
        {"1.0 2.0 3.0.0", syntax, {one, two, keep}},
        {"2.5*1 0 0", conversion, {keep, keep, keep}},
        {"*5 0 0", syntax, {keep, keep, keep}},
        {"1e39 0 0", conversion, {keep, keep, keep}},
        {"1e-50 0 0", none, {zero, zero, zero}},
        {"1.0 2.0", eof, {one, two, keep}},
    };
    check(cases);
}

TEST(read_values, passes_over_blank_records_and_whitespace) {
    const int_case counts[] = {
        {"\t \t\n\n   \n7", none, 7},
        {join({std::string(1000, '\n'), "5"}), none, 5},
        {join({std::string(20000, ' '), "5"}), none, 5},
        {"\n\n  \t\n", eof, keep_int},
    };
    check(counts);
    const vertex_case vertices[] = {
        {"1\n\n  \n2\n\t\n3", none, {one, two, three}},
        {join({"1", std::string(500, '\n'), "2 3"}), none, {one, two, three}},
        {"1.0 \r 2.0 3.0", none, {one, two, three}},
        {"1.0\n\r\n2.0 3.0", none, {one, two, three}},
        {"1.0\t2.0\t3.0", none, {one, two, three}},
        {"\t1 \t2\t\n\t3\t", none, {one, two, three}},
        {"1.0\r2.0 3.0", syntax, {keep, keep, keep}},
        {"1\r\n2\r\n3\r\n", none, {one, two, three}},
        {"1 2 3\r\r\n", none, {one, two, three}},
        // Lone CRs end no record: the one record holds them inside.
        {"1\r2\r3\r", syntax, {keep, keep, keep}},
    };
    check(vertices);
}

TEST(read_values, takes_a_comma_as_a_null_value_only_where_no_value_precedes_it) {
    const int_case counts[] = {
        {"\n   \n,5", none, keep_int},
        {"  ,", none, keep_int},
    };
    check(counts);
    const vertex_case vertices[] = {
        {"\n  \n,2,3", none, {keep, two, three}},
        {",,,", none, {keep, keep, keep}},
        {", 2 ,, ", none, {keep, two, keep}},
        {"1 , , 3", none, {one, keep, three}},
        {"1\t,\t,\t3", none, {one, keep, three}},
        {"1,,,4", none, {one, keep, keep}},
        {"1,   \n  ,3", none, {one, keep, three}},
        {"1,\n\n,3", none, {one, keep, three}},
        {"1\n\n,2,3", none, {one, two, three}},
        {"1 2,\n3", none, {one, two, three}},
        {"1 2\n,\n3", none, {one, two, three}},
        {"1 2\n,,", none, {one, two, keep}},
        {"1,\n2\n,3", none, {one, two, three}},
    };
    check(vertices);
}

TEST(read_values, repeats_a_value_for_as_many_items_as_the_factor_says) {
    const int_case counts[] = {
        {"2*5", none, 5},
        {"-3*5", none, 5},
        {"3*", none, keep_int},
        {"99999999999*1", conversion, keep_int},
        {"1E1*1", conversion, keep_int},
    };
    check(counts);
    const vertex_case vertices[] = {
        {"5*1.0", none, {one, one, one}},
        {"1*5 6 7", none, {five, six, seven}},
        {"-1*5 6 7", none, {five, six, seven}},
        {"2147483647*4", none, {four, four, four}},
        {"2*-3 4", none, {minus_three, minus_three, four}},
        {"2*inf 1", none, {infinity, infinity, one}},
        {"3*1,2", none, {one, one, one}},
        {"1 2*", none, {one, keep, keep}},
        {"2*\n7", none, {keep, keep, seven}},
        {"2*\t7", none, {keep, keep, seven}},
        {"2*,,7", none, {keep, keep, keep}},
        {"2*/ 5", none, {keep, keep, keep}},
        {"2*(1.5, 9) 7", none, {one_and_half, one_and_half, seven}},
        {"2*(1.5,\n9) 7", none, {one_and_half, one_and_half, seven}},
        // The pair's first record fills the 8192-byte read buffer exactly, so
        // reading the rest of the pair overwrites the repeated token's text.
        {join({"2*(1.5,", std::string(8184, ' '), "\n9) 7"}), none, {one_and_half, one_and_half, seven}},
        {"2*1.5x", syntax, {keep, keep, keep}},
        {"2*)", syntax, {keep, keep, keep}},
        {"2**1", syntax, {keep, keep, keep}},
        {"1 *5 6", syntax, {one, keep, keep}},
        {"2*'a'", conversion, {keep, keep, keep}},
        {"2*T", conversion, {keep, keep, keep}},
        {"2*1e39", conversion, {keep, keep, keep}},
    };
    check(vertices);
}

TEST(read_values, leaves_every_item_after_a_slash_unchanged) {
    const vertex_case cases[] = {
        {"/", none, {keep, keep, keep}},
        {"/ 1 2 3", none, {keep, keep, keep}},
        {"1 2 / 3", none, {one, two, keep}},
        {"1/2", none, {one, keep, keep}},
        {"1,/", none, {one, keep, keep}},
        {"1\n\n/ 2", none, {one, keep, keep}},
    };
    check(cases);
}

TEST(read_values, rejects_quoted_strings_after_reading_them_whole) {
    const std::string longest(2049, 'x');
    const int_case cases[] = {
        {"\"3\"", conversion, keep_int},
        {"''", conversion, keep_int},
        {"'it''s'", conversion, keep_int},
        {"'a\"b' 5", conversion, keep_int},
        {"'a\n\nb'", conversion, keep_int},
        {"'a'''", conversion, keep_int},
        {"'a''", syntax, keep_int},
        {"'abc", syntax, keep_int},
        {"'abc\n\n", syntax, keep_int},
        {join({"'", longest, "'"}), conversion, keep_int},
        {join({"'", longest, "x'"}), syntax, keep_int},
        {join({"'", longest.substr(1), "'''"}), conversion, keep_int},
        {join({"'", longest, "'''"}), syntax, keep_int},
        // A record end adds nothing to the string.
        {join({"'", longest.substr(0, 1000), "\n", longest.substr(1000), "'"}), conversion, keep_int},
        {join({"'", longest.substr(0, 1000), "\n", longest.substr(999), "'"}), syntax, keep_int},
    };
    check(cases);
    const vertex_case vertices[] = {
        {"1 2 'abc", syntax, {one, two, keep}},
        {"1 2 '3'", conversion, {one, two, keep}},
    };
    check(vertices);
}

TEST(read_values, rejects_logical_values_but_not_a_leading_point) {
    for (const char* text : {"T", "F", "t", "f", "TRUE", "false", ".T.", ".f.", ".TRUE.", "T*3"}) {
        const int_case count[] = {{text, conversion, keep_int}};
        check(count);
        const vertex_case vertex[] = {{text, conversion, {keep, keep, keep}}};
        check(vertex);
    }
    const vertex_case points[] = {{".5 .5e1 -.5", none, {half, five, 0xBF000000}}};
    check(points);
}

TEST(read_values, takes_a_special_word_whole_and_leaves_it_to_the_conversion) {
    const int_case counts[] = {
        {"NaN", conversion, keep_int},
        {"Infinity", conversion, keep_int},
    };
    check(counts);
    const vertex_case vertices[] = {
        {"Infinity inf +Inf", none, {infinity, infinity, infinity}},
        {"-inf -INFINITY 0", none, {minus_infinity, minus_infinity, zero}},
        {"NaN +nan -NAN", none, {nan, plus_nan, nan}},
        {"NaN(abc) 1 2", none, {nan, one, two}},
        {"NaN(a_1),1,2", none, {nan, one, two}},
        {"NaN(a b) 1 2", conversion, {keep, keep, keep}},
        {"NaN(1, 2) 3", conversion, {keep, keep, keep}},
        {"INFO 1 2", conversion, {keep, keep, keep}},
        {"nan*2 1 2", conversion, {keep, keep, keep}},
        {"+in 1 2", conversion, {keep, keep, keep}},
        // "(" ends an I-word: here it opens a pair for the next item.
        {"inf(1, 2) 3", none, {infinity, one, three}},
        {"5i 1 2", syntax, {keep, keep, keep}},
        {"1n 1 2", syntax, {keep, keep, keep}},
        {"+-inf 1 2", syntax, {keep, keep, keep}},
        {"1 2 ++5", syntax, {one, two, keep}},
    };
    check(vertices);
}

TEST(read_values, stores_the_first_number_of_a_pair_and_checks_the_rest) {
    const vertex_case cases[] = {
        {"(1.5,2.5),3,4", none, {one_and_half, three, four}},
        {"( 1.5 , 2.5 ) 3 4", none, {one_and_half, three, four}},
        {"(\n1.5\n,\n2.5\n) 3 4", none, {one_and_half, three, four}},
        {"1 (2, -inf) 3", none, {one, two, three}},
        {"(1.5, 25.5e3) 3 4", none, {one_and_half, three, four}},
        {"(1.5, INFIN) 3 4", none, {one_and_half, three, four}},
        {"(1.5, n) 3 4", none, {one_and_half, three, four}},
        {"(1.5, NaN (x y)) 3 4", none, {one_and_half, three, four}},
        {"1 (,2, 3) 4", none, {one, two, four}},
        {"(2*5, 1) 6", none, {five, five, six}},
        // A comma right after the statement's first "(" is a null value that
        // ends the statement's input.
        {"(,2) 5 6", none, {keep, keep, keep}},
        {"(1.5 2.5) 3 4", syntax, {one_and_half, keep, keep}},
        {"(1.5) 3 4", syntax, {one_and_half, keep, keep}},
        {"(1.5, x) 3 4", syntax, {one_and_half, keep, keep}},
        {"(1.5, .5) 3 4", syntax, {one_and_half, keep, keep}},
        {"(1.5, +) 3 4", syntax, {one_and_half, keep, keep}},
        {"(1.5, 2.5e+3) 3 4", syntax, {one_and_half, keep, keep}},
        {"(1.5, 2.5 3) 4", syntax, {one_and_half, keep, keep}},
        {"(1.5, nan(x) ) 3 4", syntax, {one_and_half, keep, keep}},
        {"(1.5, nan(x", syntax, {one_and_half, keep, keep}},
        {"((1, 2), 3)", syntax, {keep, keep, keep}},
        {"() 1 2", syntax, {keep, keep, keep}},
        {") 1 2", syntax, {keep, keep, keep}},
        {"1 ) 2", syntax, {one, keep, keep}},
        // The rest of the pair is checked even for the statement's last item.
        {"1 2 (3, x)", syntax, {one, two, three}},
        {"1 2 (3,", eof, {one, two, three}},
        {"1 2 (3, 4", eof, {one, two, three}},
        {"(1.5", eof, {one_and_half, keep, keep}},
    };
    check(cases);
}

TEST(read_values, stores_the_first_number_of_a_pair_in_an_integer_item) {
    const int_case counts[] = {
        {"(5, 7)", none, 5},
        {"( 5 , garbage", none, 5},
    };
    check(counts);

    // The pair stays open: a later item that meets its ")" fails.
    const input_file file("(5, 7) 8\n");
    std::array<std::int32_t, 3> values{keep_int, keep_int, keep_int};
    const read_item items[] = {{item_kind::int32, &values[0]},
                               {item_kind::int32, &values[1]},
                               {item_kind::int32, &values[2]}};
    EXPECT_EQ(message_number(read_values(input_unit, items)), syntax);
    EXPECT_EQ(values[0], 5);
    EXPECT_EQ(values[1], 7);
}

TEST(read_values, rejects_control_and_high_bytes_where_a_value_is_expected) {
    const vertex_case cases[] = {
        {"\f1 2 3", syntax, {keep, keep, keep}},
        {"\v1 2 3", syntax, {keep, keep, keep}},
        {"1 \0 2 3"s, syntax, {one, keep, keep}},
        {"1\0 2 3"s, syntax, {keep, keep, keep}},
        {"\xEF\xBB\xBF" "1 2 3", syntax, {keep, keep, keep}},
        {"1\x80 2 3", syntax, {keep, keep, keep}},
        {"1 2 \xFF", syntax, {one, two, keep}},
        {"1;2 3", syntax, {keep, keep, keep}},
        {"1 2 3 \f\0\xFF;"s, none, {one, two, three}},
        {"\x1A\n1 2 3", eof, {keep, keep, keep}},
    };
    check(cases);
    const int_case counts[] = {{"2 garbage", none, 2}};
    check(counts);
}

TEST(read_values, truncates_a_real_form_token_for_an_integer_item) {
    const int_case cases[] = {
        {"2147483647.9", none, 2147483647},
        {"2147483648.0", none, int_min},
        {"-2147483648.9", none, int_min},
        {"-3e9", none, int_min},
        {"1e400", conversion, keep_int},
        {"-0.5", none, 0},
        {"5.", none, 5},
        {".5", none, 0},
        {"1E", none, 1},
        {"9.99999e1", none, 99},
        {"1e-400", none, 0},
        {"-2147483648", none, int_min},
        {"2147483647", none, 2147483647},
        {"007", none, 7},
        {"1.0+5+5", conversion, keep_int},
    };
    check(cases);
}

TEST(read_values, applies_the_numeric_token_rules) {
    for (const char* text : {"+", ".", "-.", "5-", "1E+", "E5", "--5", "1.2.3", "1E5E5", "1e5d5", "+T", "5x"}) {
        const vertex_case vertex[] = {{text, syntax, {keep, keep, keep}}};
        check(vertex);
    }
    const vertex_case passing[] = {
        {"1E 5. .5", none, {one, five, half}},
        {"1+5 1.0-3 -0", none, {0x47C35000, 0x3A83126F, minus_zero}},
    };
    check(passing);
}

TEST(read_values, starts_every_statement_at_a_new_record) {
    // A header with trailing values, then a vertex whose third number comes
    // from the next record, which shifts the later vertices by one record.
    const input_file file("2 garbage\n1 0 0 0\n0 0 0\n1 0 0\n0 1 0\n7\n0 0\n1 0 0 9\n0 1 0\n");
    const int_read count = read_int();
    EXPECT_EQ(count.result, none);
    EXPECT_EQ(count.value, 2);
    const int_read header = read_int();
    EXPECT_EQ(header.result, none);
    EXPECT_EQ(header.value, 1);

    const vertex_case expected[] = {
        {"", none, {zero, zero, zero}},
        {"", none, {one, zero, zero}},
        {"", none, {zero, one, zero}},
    };
    for (const vertex_case& c : expected) {
        const vertex_read got = read_vertex();
        EXPECT_EQ(got.result, c.result);
        EXPECT_EQ(got.bits, c.bits);
    }
    EXPECT_EQ(read_int().value, 7);
    const vertex_read shifted = read_vertex();
    EXPECT_EQ(shifted.result, none);
    EXPECT_EQ(shifted.bits, (std::array<std::uint32_t, 3>{zero, zero, one}));
    const vertex_read last = read_vertex();
    EXPECT_EQ(last.bits, (std::array<std::uint32_t, 3>{zero, one, zero}));
    EXPECT_EQ(read_vertex().result, eof);
}

// Counts the string buffers handed out and returned, and can refuse them.
struct memory_probe {
    static inline bool refuse = false;
    static inline int taken = 0;
    static inline int returned = 0;
    static inline std::vector<void*> blocks;

    static bool is_string_buffer(std::size_t bytes) { return bytes == 2050; }
    static void* allocate(std::size_t bytes) {
        if (!is_string_buffer(bytes)) return platform::native_memory_ops().allocate(bytes);
        if (refuse) return nullptr;
        ++taken;
        void* block = platform::native_memory_ops().allocate(bytes);
        blocks.push_back(block);
        return block;
    }
    static void* allocate_zeroed(std::size_t bytes) { return platform::native_memory_ops().allocate_zeroed(bytes); }
    static void* reallocate(void* block, std::size_t bytes) {
        return platform::native_memory_ops().reallocate(block, bytes);
    }
    static void release(void* block) {
        for (void*& b : blocks) {
            if (b == block && b != nullptr) {
                ++returned;
                b = nullptr;
            }
        }
        platform::native_memory_ops().release(block);
    }
    static constexpr platform::memory_ops ops = {allocate, allocate_zeroed, reallocate, release};
};

class scoped_memory_probe {
public:
    explicit scoped_memory_probe(bool refuse) {
        memory_probe::refuse = refuse;
        memory_probe::taken = memory_probe::returned = 0;
        memory_probe::blocks.clear();
        platform::use_memory_ops(&memory_probe::ops);
    }
    ~scoped_memory_probe() { platform::use_memory_ops(nullptr); }
    scoped_memory_probe(const scoped_memory_probe&) = delete;
    scoped_memory_probe& operator=(const scoped_memory_probe&) = delete;
};

TEST(read_values, reports_41_when_the_string_buffer_cannot_be_had) {
    const input_file file("'5'\n");
    {
        const scoped_memory_probe refusing(true);
        EXPECT_EQ(read_int().result, no_memory);
    }
    // The record was taken before the buffer was asked for.
    EXPECT_EQ(read_int().result, eof);
}

TEST(read_values, asks_for_the_string_buffer_only_after_a_record_is_found) {
    const input_file file("");
    const scoped_memory_probe refusing(true);
    EXPECT_EQ(read_int().result, eof);
}

TEST(read_values, asks_for_the_string_buffer_only_at_a_quoted_string) {
    const input_file file("5\n1 2\n,3\n/\n");
    const scoped_memory_probe refusing(true);
    const int_read count = read_int();
    EXPECT_EQ(count.result, none);
    EXPECT_EQ(count.value, 5);
    EXPECT_EQ(read_vertex().result, none);
    EXPECT_EQ(read_int().result, none);
}

TEST(read_values, returns_the_string_buffer_of_every_statement) {
    const input_file file("1\n'x'\n2 3\n4\n1 'y\n\nz'\n'open\n");
    const scoped_memory_probe probe(false);
    EXPECT_EQ(read_int().result, none);
    EXPECT_EQ(read_int().result, conversion);
    EXPECT_EQ(read_vertex().result, none);
    EXPECT_EQ(read_vertex().result, conversion);
    EXPECT_EQ(read_int().result, syntax);
    EXPECT_EQ(memory_probe::taken, 3);
    EXPECT_EQ(memory_probe::returned, 3);
}

}  // namespace
}  // namespace textio
