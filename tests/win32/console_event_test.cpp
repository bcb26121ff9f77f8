// Console control events delivered by the console itself: the handler runs on
// the thread the system makes for the event, prints message 200 with its
// table, and ends the process with the event's code.
#include "runtime/entry.hpp"

#include "tests/support/files.hpp"
#include "tests/support/input_maker.hpp"
#include "tests/support/process.hpp"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

constexpr char table_header[] = "Image              PC        Routine            Line        Source             \r\n";
// Exit statuses of a child that could not get as far as the event.
constexpr int no_console_status = 98;
constexpr int no_event_status = 99;

DWORD event_to_send = CTRL_C_EVENT;

// The driver: the event goes to this process's own console, and the driver's
// thread waits while the system's thread handles it.
int send_event_and_wait() {
    if (!GenerateConsoleCtrlEvent(event_to_send, 0)) std::_Exit(no_event_status);
    for (;;) Sleep(INFINITE);
}

struct event_case {
    const char* name;
    DWORD event;
    int status;
    const char* word;
};

void PrintTo(const event_case& c, std::ostream* os) { *os << c.name; }

class console_event_run : public testing::TestWithParam<event_case> {};

TEST_P(console_event_run, prints_message_200_and_exits_with_the_event_code) {
    const event_case& c = GetParam();
    const test_support::process_result r = test_support::run_in_child([&] {
        // A console of the child's own: the event must reach no other process.
        const HANDLE error_stream = GetStdHandle(STD_ERROR_HANDLE);
        FreeConsole();
        if (!AllocConsole()) std::_Exit(no_console_status);
        SetStdHandle(STD_ERROR_HANDLE, error_stream);
        event_to_send = c.event;
        std::exit(runtime::run_entry(send_event_and_wait));
    });
    if (r.exit_status == no_console_status) GTEST_SKIP() << "this system gives the test no console of its own";
    if (r.exit_status == no_event_status)
        GTEST_SKIP() << "this system cannot generate " << c.word << " events (GenerateConsoleCtrlEvent refuses them)";
    EXPECT_EQ(r.exit_status, c.status);
    const std::string first = std::string("iorun: error (200): program aborting due to ") + c.word + " event\r\n";
    EXPECT_EQ(r.standard_error.substr(0, first.size() + sizeof table_header - 1), first + table_header);
    EXPECT_EQ(r.standard_error.find("iorun:", 1), std::string::npos);
}

const event_case event_cases[] = {
    {"control_c", CTRL_C_EVENT, 0, "control-C"},
    {"control_break", CTRL_BREAK_EVENT, 1, "control-BREAK"},
};

INSTANTIATE_TEST_SUITE_P(events, console_event_run, testing::ValuesIn(event_cases),
                         [](const testing::TestParamInfo<event_case>& p) { return p.param.name; });

// The whole program on a console of its own, interrupted while it writes:
// either the run was already over, or it ends with the event and output.stl
// holds whole lines, the start of the full output.
TEST(console_event_run, interrupts_a_whole_run_between_records) {
    const std::uint32_t seed = 20261212;
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const std::string dir = std::filesystem::canonical(test_support::make_temp_dir()).string();
    test_support::write_file(dir + "\\input.txt", test_support::make_triangle_input(100000, seed));
    const test_support::process_result full = test_support::run_program(test_support::tri2stl_path(), dir);
    ASSERT_EQ(full.exit_status, 0);
    const std::string reference = test_support::read_file(dir + "\\output.stl");
    std::filesystem::remove(dir + "\\output.stl");

    const test_support::running_program p = test_support::start_program(test_support::tri2stl_path(), dir);
    // Once output.stl exists the handler is in place (it comes before the
    // input is opened) and the program is writing.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(dir + "\\output.stl") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    test_support::send_signal(p, SIGINT);
    const test_support::process_result r = test_support::finish_program(p);
    ASSERT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, 0);
    const std::string output =
        std::filesystem::exists(dir + "\\output.stl") ? test_support::read_file(dir + "\\output.stl") : "";
    if (r.standard_error.empty()) {
        EXPECT_TRUE(output == reference) << "the run ended normally with " << output.size() << " of "
                                         << reference.size() << " bytes of output";
    } else {
        const std::string first = "iorun: error (200): program aborting due to control-C event\r\n";
        EXPECT_EQ(r.standard_error.substr(0, first.size() + sizeof table_header - 1), first + table_header);
        EXPECT_EQ(reference.compare(0, output.size(), output), 0) << "not a prefix";
        if (!output.empty()) {
            EXPECT_EQ(output.substr(output.size() - 2), "\r\n");
        }
    }
    test_support::remove_tree(dir);
}

}  // namespace
