#include "textio/record_io.hpp"

#include "tests/support/fault_plan.hpp"
#include "tests/support/files.hpp"
#include "textio/connection.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using test_support::fault_plan;
using test_support::file_call;
using textio::message;

constexpr std::int32_t unit = 10;

textio::connection& open_input(const std::string& bytes) {
    test_support::write_file("input.txt", bytes);
    EXPECT_EQ(textio::open_connection(unit, "input.txt", 9), message::none);
    return *textio::find_connection(unit);
}

// Every record until the first failure, and that failure.
std::vector<std::string> read_all(textio::connection& c, message* last) {
    std::vector<std::string> records;
    for (;;) {
        const message m = textio::read_record(c);
        if (m != message::none) {
            *last = m;
            return records;
        }
        records.emplace_back(textio::record_text(c), textio::record_length(c));
    }
}

struct records_case {
    const char* name;
    std::string file;
    std::vector<std::string> records;
};

TEST(read_record, cuts_records_at_line_feeds_and_ends_with_end_of_file) {
    const records_case cases[] = {
        {"worked example", std::string("3\r\n1 2\n\nx\r\r\ny"), {"3", "1 2", "", "x", "y"}},
        {"empty file", "", {}},
        {"lone CRs make one record", "1\r2\r3\r", {"1\r2\r3"}},
        {"CR kept inside a record", "a\rb\r\n", {"a\rb"}},
        {"end-of-file record stops the input", "1\n\x1a\n2\n", {"1"}},
        {"end-of-file record with CR, last in file", "1\n\x1a\r", {"1"}},
        {"0x1A inside a line is text", "a\x1a\n\x1a\x1a\n", {"a\x1a", "\x1a\x1a"}},
        {"NUL is text", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
        {"only blank lines", "\n\n\n", {"", "", ""}},
    };
    for (const records_case& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::scoped_work_dir dir;
        textio::connection& conn = open_input(c.file);
        message last = message::none;
        EXPECT_EQ(read_all(conn, &last), c.records);
        EXPECT_EQ(last, message::end_of_file_during_read);
        EXPECT_EQ(textio::close_connection(unit), message::none);
    }
}

TEST(read_record, reads_lines_that_fill_or_pass_the_buffer) {
    const std::size_t lengths[] = {8191, 8192, 8193, 16384, 100000, 10'000'000};
    for (const std::size_t n : lengths) {
        for (const bool with_lf : {true, false}) {
            SCOPED_TRACE(testing::Message() << n << (with_lf ? " with LF" : " without LF"));
            test_support::scoped_work_dir dir;
            const std::string line(n, '7');
            textio::connection& c = open_input(line + (with_lf ? "\n" : "") + (with_lf ? "8" : ""));
            message last = message::none;
            const std::vector<std::string> records = read_all(c, &last);
            ASSERT_EQ(records.size(), with_lf ? 2u : 1u);
            EXPECT_EQ(records[0], line);
            if (with_lf) {
                EXPECT_EQ(records[1], "8");
            }
            EXPECT_EQ(last, message::end_of_file_during_read);
            EXPECT_EQ(textio::close_connection(unit), message::none);
        }
    }
}

TEST(read_record, asks_for_the_whole_free_space_in_pieces_of_at_most_128_kib) {
    test_support::scoped_work_dir dir;
    fault_plan plan;
    textio::connection& c = open_input(std::string(100000, 'a') + "\nb\n");
    message last = message::none;
    EXPECT_EQ(read_all(c, &last).size(), 2u);
    std::vector<std::size_t> asked;
    for (const auto& r : plan.calls())
        if (r.call == file_call::read_file) { asked.push_back(r.bytes); }
    // 8192 free, then each doubling frees the old capacity again.
    const std::vector<std::size_t> expected = {8192, 8192, 16384, 32768, 65536, 0};
    ASSERT_GE(asked.size(), 5u);
    EXPECT_EQ(std::vector<std::size_t>(asked.begin(), asked.begin() + 5),
              std::vector<std::size_t>(expected.begin(), expected.begin() + 5));
    for (const std::size_t n : asked) EXPECT_LE(n, textio::max_transfer_bytes);
    EXPECT_EQ(textio::close_connection(unit), message::none);
}

TEST(read_record, maps_read_failures) {
    struct failure_case {
        platform::os_result result;
        message expected;
        std::uint32_t saved;
    };
    const failure_case cases[] = {
        {{platform::os_error::end_of_file, 38}, message::end_of_file_during_read, 0},
        {{platform::os_error::other, 5}, message::error_during_read, 5},
    };
    for (const failure_case& f : cases) {
        test_support::scoped_work_dir dir;
        fault_plan plan;
        plan.fail(file_call::read_file, 1, f.result);
        textio::connection& c = open_input("1\n");
        EXPECT_EQ(textio::read_record(c), f.expected);
        EXPECT_EQ(c.saved_error, f.saved);
        EXPECT_EQ(textio::close_connection(unit), message::none);
    }
}

TEST(read_record, reports_a_buffer_that_cannot_double) {
    test_support::scoped_work_dir dir;
    fault_plan plan;
    textio::connection& c = open_input(std::string(9000, 'a'));
    plan.fail_allocation(3);  // the name, the buffer, then the doubling
    EXPECT_EQ(textio::read_record(c), message::cannot_allocate_file_buffer);
    EXPECT_EQ(textio::close_connection(unit), message::none);
}

textio::connection& open_output() {
    EXPECT_EQ(textio::open_connection(20, "output.stl", 10), message::none);
    return *textio::find_connection(20);
}

message write_text(textio::connection& c, const std::string& text) {
    text.copy(c.buffer, text.size());
    return textio::write_record(c, text.size());
}

TEST(write_record, writes_each_record_with_cr_lf_in_one_call) {
    test_support::scoped_work_dir dir;
    fault_plan plan;
    textio::connection& c = open_output();
    EXPECT_EQ(write_text(c, "solid sample"), message::none);
    EXPECT_EQ(test_support::read_file("output.stl"), "solid sample\r\n");
    EXPECT_EQ(write_text(c, "x"), message::none);
    EXPECT_EQ(test_support::read_file("output.stl"), "solid sample\r\nx\r\n");
    EXPECT_EQ(plan.count(file_call::write_file), 2);
    EXPECT_EQ(plan.calls().back().call, file_call::write_file);
    EXPECT_EQ(plan.count(file_call::set_end_of_file), 1);
    EXPECT_EQ(textio::close_connection(20), message::none);
}

TEST(write_record, cuts_a_longer_file_after_the_first_record_only) {
    test_support::scoped_work_dir dir;
    test_support::write_file("output.stl", std::string(1 << 20, 'z'));
    textio::connection& c = open_output();
    EXPECT_EQ(write_text(c, "solid sample"), message::none);
    EXPECT_EQ(test_support::read_file("output.stl"), "solid sample\r\n");
    EXPECT_EQ(write_text(c, "endsolid sample"), message::none);
    EXPECT_EQ(textio::close_connection(20), message::none);
    EXPECT_EQ(test_support::read_file("output.stl"), "solid sample\r\nendsolid sample\r\n");
}

TEST(write_record, keeps_completed_records_when_a_write_fails) {
    struct failure_case {
        file_call call;
        int nth;
        std::string left;
    };
    const failure_case cases[] = {
        {file_call::write_file, 1, "old contents"},
        {file_call::set_end_of_file, 1, "a\r\n contents"},
        {file_call::write_file, 2, "a\r\n"},
    };
    for (const failure_case& f : cases) {
        test_support::scoped_work_dir dir;
        test_support::write_file("output.stl", "old contents");
        fault_plan plan;
        plan.fail(f.call, f.nth, {platform::os_error::other, 28});
        textio::connection& c = open_output();
        const message first = write_text(c, "a");
        const message second = first == message::none ? write_text(c, "b") : first;
        EXPECT_EQ(second, message::error_during_write);
        EXPECT_EQ(c.saved_error, 28u);
        EXPECT_EQ(textio::close_connection(20), message::none);
        EXPECT_EQ(test_support::read_file("output.stl"), f.left);
    }
}

TEST(write_record, splits_records_longer_than_128_kib) {
    test_support::scoped_work_dir dir;
    fault_plan plan;
    textio::connection& c = open_output();
    const std::size_t n = 300000;
    ASSERT_EQ(textio::grow_record_area(c, 0, n), message::none);
    std::fill(c.buffer, c.buffer + n, 'q');
    EXPECT_EQ(textio::write_record(c, n), message::none);
    EXPECT_EQ(textio::close_connection(20), message::none);
    EXPECT_EQ(test_support::read_file("output.stl"), std::string(n, 'q') + "\r\n");
    std::vector<std::size_t> pieces;
    for (const auto& r : plan.calls())
        if (r.call == file_call::write_file) { pieces.push_back(r.bytes); }
    EXPECT_EQ(pieces, (std::vector<std::size_t>{131072, 131072, n + 2 - 2 * 131072}));
}

TEST(check_writable, refuses_a_connection_opened_for_reading_only) {
    test_support::scoped_work_dir dir;
    test_support::write_file("output.stl", "keep");
    fault_plan plan;
    plan.fail(file_call::open_file, 1, {platform::os_error::access_denied, 13});
    textio::connection& c = open_output();
    EXPECT_TRUE(c.is_read_only);
    EXPECT_EQ(textio::check_writable(c), message::write_to_read_only_file);
    EXPECT_EQ(textio::close_connection(20), message::none);
    EXPECT_EQ(test_support::read_file("output.stl"), "keep");
}

}  // namespace
