#pragma once

#include <string>
#include <vector>

namespace test_support {

struct process_result {
    int exit_status = -1;  // -1 when the process did not exit normally
    int signal = 0;        // the signal that ended it, if any
    std::string standard_output;
    std::string standard_error;
};

// Runs program with arguments in directory, no standard input, and waits.
[[nodiscard]] process_result run_program(const std::string& program, const std::string& directory,
                                         const std::vector<std::string>& arguments = {});

// The tri2stl executable under test (its path is compiled into the tests).
[[nodiscard]] std::string tri2stl_path();

}  // namespace test_support

#include <functional>

namespace test_support {

// Runs body in a forked child with its standard error captured, and waits.
// A body that returns exits with status 0.
[[nodiscard]] process_result run_in_child(const std::function<void()>& body);

}  // namespace test_support

namespace test_support {

// A program started and not yet waited for; its standard error goes to a
// file in its folder, so that nothing blocks on a full pipe.
struct running_program {
    int pid = -1;
    std::string error_path;
};

[[nodiscard]] running_program start_program(const std::string& program, const std::string& directory,
                                            const std::vector<std::string>& arguments = {});
void send_signal(const running_program& p, int signal);
// Waits for the program (at most timeout_seconds, then kills it and reports
// signal 9) and collects its standard error.
[[nodiscard]] process_result finish_program(const running_program& p, int timeout_seconds = 120);

}  // namespace test_support
