#include "textio/edit_writer.hpp"

#include "tests/support/fault_plan.hpp"
#include "tests/support/files.hpp"
#include "textio/connection.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

namespace {

using test_support::fault_plan;
using test_support::file_call;
using textio::message;
using textio::write_item;

write_item text(const char* t) { return write_item::of_text(t, std::char_traits<char>::length(t)); }
write_item number(std::uint32_t bits) { return write_item::of_single(std::bit_cast<float>(bits)); }

struct record_case {
    textio::format_program program;
    std::vector<write_item> items;
    std::string record;
};

TEST(write_values, lays_out_one_record_per_statement) {
    const record_case cases[] = {
        {textio::text_line_program, {text("solid sample")}, "solid sample"},
        {textio::text_and_three_numbers_program,
         {text("vertex"), number(0x3F800000), number(0xBFC00000), number(0x80000000)},
         "vertex   0.100E+01  -0.150E+01   0.000E+00"},
        {textio::text_and_three_numbers_program,
         {text("facet normal"), number(0x3F800000), number(0x40000000), number(0x40400000)},
         "facet normal   0.100E+01   0.200E+01   0.300E+01"},
        {textio::text_and_three_numbers_program,
         {text("vertex"), number(0x7FC00000), number(0x7F800000), number(0xFF800000)},
         "vertex         NaN    Infinity   -Infinity"},
    };
    test_support::scoped_work_dir dir;
    ASSERT_EQ(textio::open_connection(20, "output.stl", 10), message::none);
    std::string expected;
    for (const record_case& c : cases) {
        EXPECT_EQ(textio::write_values(20, c.program, c.items), message::none);
        expected += c.record + "\r\n";
    }
    EXPECT_EQ(textio::close_connection(20), message::none);
    EXPECT_EQ(test_support::read_file("output.stl"), expected);
}

TEST(write_values, grows_the_record_area_for_a_long_text) {
    test_support::scoped_work_dir dir;
    ASSERT_EQ(textio::open_connection(20, "output.stl", 10), message::none);
    const std::string long_text(20000, 'w');
    const write_item items[] = {write_item::of_text(long_text.data(), long_text.size()), number(0x3F800000),
                                number(0), number(0)};
    EXPECT_EQ(textio::write_values(20, textio::text_and_three_numbers_program, items), message::none);
    EXPECT_EQ(textio::close_connection(20), message::none);
    EXPECT_EQ(test_support::read_file("output.stl"), long_text + "   0.100E+01   0.000E+00   0.000E+00\r\n");
}

TEST(write_values, starts_the_program_again_when_items_remain) {
    test_support::scoped_work_dir dir;
    ASSERT_EQ(textio::open_connection(20, "output.stl", 10), message::none);
    const write_item items[] = {text("a"), text("bc")};
    EXPECT_EQ(textio::write_values(20, textio::text_line_program, items), message::none);
    EXPECT_EQ(textio::close_connection(20), message::none);
    EXPECT_EQ(test_support::read_file("output.stl"), "a\r\nbc\r\n");
}

TEST(write_values, refuses_a_read_only_connection_before_writing) {
    test_support::scoped_work_dir dir;
    test_support::write_file("output.stl", "old");
    fault_plan plan;
    plan.fail(file_call::open_file, 1, {platform::os_error::access_denied, 13});
    ASSERT_EQ(textio::open_connection(20, "output.stl", 10), message::none);
    const write_item items[] = {text("solid sample")};
    EXPECT_EQ(textio::write_values(20, textio::text_line_program, items), message::write_to_read_only_file);
    EXPECT_EQ(plan.count(file_call::write_file), 0);
    EXPECT_EQ(textio::close_connection(20), message::none);
    EXPECT_EQ(test_support::read_file("output.stl"), "old");
}

TEST(write_values, reports_an_area_that_cannot_grow) {
    test_support::scoped_work_dir dir;
    fault_plan plan;
    ASSERT_EQ(textio::open_connection(20, "output.stl", 10), message::none);
    plan.fail_allocation(3);  // after the name and the buffer
    const std::string long_text(9000, 'w');
    const write_item items[] = {write_item::of_text(long_text.data(), long_text.size())};
    EXPECT_EQ(textio::write_values(20, textio::text_line_program, items),
              message::output_statement_overflows_record);
    EXPECT_EQ(textio::close_connection(20), message::none);
}

TEST(decode_format_entry, reads_the_e_descriptor_operands) {
    std::size_t next = 0;
    const textio::format_entry e = textio::decode_format_entry(textio::text_and_three_numbers_program, 8, &next);
    EXPECT_EQ(e.code, textio::format_code::e_edit);
    EXPECT_EQ(e.repeat, 3u);
    EXPECT_EQ(e.width, 12u);
    EXPECT_EQ(e.digits, 3u);
    EXPECT_EQ(e.exponent_digits, 0u);
    EXPECT_EQ(next, 20u);
}

}  // namespace
