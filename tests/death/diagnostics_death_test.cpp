#include "runtime/diagnostics.hpp"

#include "tests/support/fault_plan.hpp"
#include "tests/support/files.hpp"
#include "tests/support/process.hpp"
#include "textio/connection.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <unistd.h>
#include <string>

namespace {

using test_support::fault_plan;
using test_support::file_call;
using textio::message;

struct report_case {
    const char* name;
    std::function<void(const std::string& dir)> body;
    int status;
    std::string expected;  // @DIR@ stands for the folder
};

void PrintTo(const report_case& c, std::ostream* os) { *os << c.name; }

std::string fill_dir(std::string text, const std::string& dir) {
    for (std::size_t at = text.find("@DIR@"); at != std::string::npos; at = text.find("@DIR@"))
        text.replace(at, 5, dir);
    return text;
}

void open_input() { ASSERT_EQ(textio::open_connection(10, "input.txt", 9), message::none); }

class report_deathtest : public testing::TestWithParam<report_case> {};

TEST_P(report_deathtest, prints_its_lines_and_exits_with_the_number) {
    const report_case& c = GetParam();
    test_support::scoped_work_dir dir;
    const test_support::process_result r = test_support::run_in_child([&] { c.body(dir.path()); });
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(r.standard_error, fill_dir(c.expected, dir.path()));
}

const report_case report_cases[] = {
    {"saved_system_error",
     [](const std::string&) {
         open_input();
         textio::find_connection(10)->saved_error = ENOENT;
         runtime::report_statement_failure(message::error_during_read, 10);
     },
     39,
     "iorun: No such file or directory\r\n"
     "iorun: severe (39): error during read, unit 10, file @DIR@/input.txt\r\n"},
    {"system_error_without_text",
     [](const std::string&) {
         open_input();
         textio::find_connection(10)->saved_error = 99999;
         runtime::report_statement_failure(message::error_during_write, 10);
     },
     38,
     "iorun: FormatMessage failed for sysmem message number 99999\r\n"
     "iorun: severe (38): error during write, unit 10, file @DIR@/input.txt\r\n"},
    {"failed_open_shows_its_name",
     [](const std::string&) {
         fault_plan plan;
         plan.fail(file_call::open_file, 1, {platform::os_error::other, EIO});
         const message m = textio::open_connection(10, "input.txt", 9);
         runtime::report_statement_failure(m, 10);
     },
     30,
     "iorun: Input/output error\r\n"
     "iorun: severe (30): open failure, unit 10, file @DIR@/input.txt\r\n"},
    {"no_stored_name",
     [](const std::string&) {
         fault_plan plan;
         plan.fail(file_call::open_file, 1, {platform::os_error::file_not_found, ENOENT});
         plan.fail_allocation(1);
         const message m = textio::open_connection(10, "input.txt", 9);
         runtime::report_statement_failure(m == message::insufficient_virtual_memory ? message::file_not_found : m,
                                           10);
     },
     29, "iorun: severe (29): file not found, unit 10, file \"Unknown\"\r\n"},
    {"relative_name_when_the_path_is_too_long",
     [](const std::string&) {
         fault_plan plan;
         plan.refuse_full_path();
         open_input();
         runtime::report_statement_failure(message::end_of_file_during_read, 10);
     },
     24, "iorun: severe (24): end-of-file during read, unit 10, file input.txt\r\n"},
    {"no_diagnostic_buffer",
     [](const std::string&) {
         fault_plan plan;
         plan.fail_allocation(1);
         runtime::report_message(message::array_size_overflow);
     },
     179, "iorun: severe (179): Cannot allocate array - overflow on array size calculation.\r\n"},
    {"no_diagnostic_buffer_keeps_the_name",
     [](const std::string&) {
         fault_plan plan;
         plan.fail_allocation(3);  // after the stored name and the record buffer
         open_input();
         runtime::report_statement_failure(message::end_of_file_during_read, 10);
     },
     24, "iorun: severe (24): end-of-file during read, unit 10, file @DIR@/input.txt\r\n"},
    {"no_buffer_at_all",
     [](const std::string&) {
         fault_plan plan;
         plan.fail_allocation(1);
         plan.fail_allocation(2);
         runtime::report_message(message::insufficient_virtual_memory);
     },
     41, "iorun: no storage to report message 41\r\n"},
    {"close_failure_in_the_sweep",
     [](const std::string&) {
         fault_plan plan;
         open_input();
         plan.fail(file_call::close_file, 1, {platform::os_error::other, EIO});
         runtime::report_message(message::array_size_overflow);
     },
     28,
     "iorun: severe (179): Cannot allocate array - overflow on array size calculation.\r\n"
     "iorun: severe (28): CLOSE error, unit 10, file @DIR@/input.txt\r\n"},
    {"error_severity_returns",
     [](const std::string&) {
         const runtime::report_argument word[] = {runtime::report_argument::of_text("control-C")};
         runtime::report_message(message::console_event_abort, word);
     },
     0, "iorun: error (200): program aborting due to control-C event\r\n"},
    {"exit_work_still_runs",
     [](const std::string&) {
         std::atexit([] { ::write(2, "exit work\n", 10); });
         runtime::report_message(message::array_size_overflow);
     },
     179, "iorun: severe (179): Cannot allocate array - overflow on array size calculation.\r\nexit work\n"},
    {"exception_code_in_hex_and_decimal",
     [](const std::string&) {
         const runtime::report_argument code[] = {runtime::report_argument::of_number(0x1d),
                                                  runtime::report_argument::of_number(0x1d)};
         runtime::report_message(message::unknown_exception, code);
     },
     172, "iorun: severe (172): Program Exception - exception code = 0x1d (29)\r\n"},
};

INSTANTIATE_TEST_SUITE_P(reports, report_deathtest, testing::ValuesIn(report_cases),
                         [](const testing::TestParamInfo<report_case>& param_info) { return param_info.param.name; });

}  // namespace
