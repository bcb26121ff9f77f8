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
