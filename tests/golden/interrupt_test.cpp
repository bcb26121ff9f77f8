// Console events sent to real runs at random moments: every run ends with the
// event's code, message 200 comes first, and output.stl holds whole lines only,
// a prefix of the full output.
#include "tests/support/files.hpp"
#include "tests/support/input_maker.hpp"
#include "tests/support/process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <thread>

namespace {

struct event_case {
    int signal;
    int status;
    const char* word;
};

constexpr event_case events[] = {
    {SIGINT, 0, "control-C"},
    {SIGQUIT, 1, "control-BREAK"},
    {SIGHUP, 2, "window-CLOSE"},
};

constexpr char table_header[] = "Image              PC        Routine            Line        Source             \r\n";

TEST(console_events, end_runs_with_the_event_code_and_whole_lines) {
    const std::uint32_t seed = 20261211;
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const std::string dir = std::filesystem::canonical(test_support::make_temp_dir()).string();
    test_support::write_file(dir + "/input.txt", test_support::make_triangle_input(100000, seed));

    const auto start = std::chrono::steady_clock::now();
    const test_support::process_result full = test_support::run_program(test_support::tri2stl_path(), dir);
    const auto full_time = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(full.exit_status, 0);
    ASSERT_EQ(full.standard_error, "");
    const std::string reference = test_support::read_file(dir + "/output.stl");

    std::mt19937 random(seed);
    // Signals sent while the process is still being loaded would meet the
    // default action, before the program has a say: start a little later.
    const auto earliest = std::chrono::milliseconds(20);
    std::uniform_int_distribution<long long> delay(earliest.count() * 1000,
        std::chrono::duration_cast<std::chrono::microseconds>(full_time).count());
    int interrupted = 0;
    constexpr int runs_per_event = 4;
    for (int run = 0; run < runs_per_event * 3; ++run) {
        const event_case& e = events[run % 3];
        const long long wait_us = delay(random);
        SCOPED_TRACE(testing::Message() << e.word << " after " << wait_us << " us");
        std::filesystem::remove(dir + "/output.stl");
        const test_support::running_program p = test_support::start_program(test_support::tri2stl_path(), dir);
        std::this_thread::sleep_for(std::chrono::microseconds(wait_us));
        test_support::send_signal(p, e.signal);
        const test_support::process_result r = test_support::finish_program(p);

        ASSERT_EQ(r.signal, 0);
        const bool has_output = std::filesystem::exists(dir + "/output.stl");
        const std::string output = has_output ? test_support::read_file(dir + "/output.stl") : "";
        if (r.standard_error.empty() || (r.exit_status == 0 && output == reference)) {
            // The run was over, or already ending on its own, when the event
            // came; an event that meets the exit is only told.
            EXPECT_EQ(r.exit_status, 0);
            EXPECT_EQ(output, reference);
            continue;
        }
        ++interrupted;
        EXPECT_EQ(r.exit_status, e.status);
        const std::string first = std::string("iorun: error (200): program aborting due to ") + e.word + " event\r\n";
        EXPECT_EQ(r.standard_error.substr(0, first.size() + sizeof table_header - 1), first + table_header);
        EXPECT_EQ(r.standard_error.find("iorun:", 1), std::string::npos);
        EXPECT_EQ(reference.compare(0, output.size(), output), 0) << "not a prefix";
        if (!output.empty()) {
            EXPECT_EQ(output.substr(output.size() - 2), "\r\n");
        }
    }
    EXPECT_GT(interrupted, runs_per_event);
    test_support::remove_tree(dir);
}

}  // namespace
