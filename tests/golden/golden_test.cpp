// Whole runs of the program in a fresh folder, compared byte for byte with the
// case's expected files: output.stl, the standard error stream (with @DIR@/
// standing for the folder), and the exit status.
#include "tests/support/files.hpp"
#include "tests/support/process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path cases_dir = fs::path(TRI2STL_SOURCE_DIR) / "tests" / "golden" / "cases";

std::vector<std::string> case_names() {
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(cases_dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The diagnostic lines, without the call-stack table that follows them.
std::string without_stack_table(const std::string& text) {
    const std::size_t table = text.find("Image              PC");
    return table == std::string::npos ? text : text.substr(0, table);
}

class golden_run : public testing::TestWithParam<std::string> {};

TEST_P(golden_run, matches_its_expected_files) {
    const fs::path source = cases_dir / GetParam();
    const std::string dir = fs::canonical(test_support::make_temp_dir()).string();
    const bool has_input = fs::exists(source / "input.txt");
    const bool has_before = fs::exists(source / "output.before");
    if (has_input) fs::copy_file(source / "input.txt", dir + "/input.txt");
    if (has_before) fs::copy_file(source / "output.before", dir + "/output.stl");

    const test_support::process_result r = test_support::run_program(test_support::tri2stl_path(), dir);

    EXPECT_EQ(r.exit_status, std::stoi(test_support::read_file((source / "expected.status").string())));
    EXPECT_EQ(without_stack_table(r.standard_error),
              replace_all(test_support::read_file((source / "expected.stderr").string()), "@DIR@/",
                          dir + static_cast<char>(fs::path::preferred_separator)));
    EXPECT_EQ(r.standard_output, "");
    if (fs::exists(source / "expected.stl")) {
        EXPECT_EQ(test_support::read_file(dir + "/output.stl"),
                  test_support::read_file((source / "expected.stl").string()));
    } else if (has_before) {
        EXPECT_EQ(test_support::read_file(dir + "/output.stl"),
                  test_support::read_file((source / "output.before").string()));
    } else {
        EXPECT_FALSE(fs::exists(dir + "/output.stl"));
    }
    EXPECT_EQ(test_support::read_file(dir + "/input.txt"),
              has_input ? test_support::read_file((source / "input.txt").string()) : "");
    test_support::remove_tree(dir);
}

INSTANTIATE_TEST_SUITE_P(cases, golden_run, testing::ValuesIn(case_names()),
                         [](const testing::TestParamInfo<std::string>& param_info) { return param_info.param; });

}  // namespace
