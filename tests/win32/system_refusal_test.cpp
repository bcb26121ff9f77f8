// Whole runs of tri2stl.exe against what only Windows refuses: files held by
// another process with or without sharing, and read-only attributes. Each
// ends as the program promises, and leaves the files as it promises.
#include "tests/support/files.hpp"
#include "tests/support/process.hpp"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

namespace {

constexpr char table_header[] = "Image              PC        Routine            Line        Source             \r\n";
constexpr char one_triangle[] = "1\n5\n0 0 0\n1 0 0\n0 1 0\n";
constexpr char one_triangle_stl[] =
    "solid sample\r\n"
    "facet normal   0.000E+00   0.000E+00   0.000E+00\r\n"
    "outer loop\r\n"
    "vertex   0.000E+00   0.000E+00   0.000E+00\r\n"
    "vertex   0.100E+01   0.000E+00   0.000E+00\r\n"
    "vertex   0.000E+00   0.100E+01   0.000E+00\r\n"
    "endloop\r\n"
    "endfacet\r\n"
    "endsolid sample\r\n";

std::string system_text(DWORD code) {
    char text[1024];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    return std::string(text, n);
}

class system_refusal_run : public testing::Test {
protected:
    void SetUp() override { dir_ = std::filesystem::canonical(test_support::make_temp_dir()).string(); }
    void TearDown() override {
        if (holder_ != INVALID_HANDLE_VALUE) CloseHandle(holder_);
        test_support::remove_tree(dir_);
    }

    std::string path(const char* name) const { return dir_ + "\\" + name; }
    test_support::process_result run() const { return test_support::run_program(test_support::tri2stl_path(), dir_); }
    void hold(const char* name, DWORD share) {
        holder_ = CreateFileA(path(name).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
        ASSERT_NE(holder_, INVALID_HANDLE_VALUE);
    }
    void make_read_only(const char* name) const {
        ASSERT_TRUE(SetFileAttributesA(path(name).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    // Wine run by the administrator maps the attribute onto permission bits
    // that do not bind the administrator.
    bool is_writing_refused(const char* name) const {
        const HANDLE h =
            CreateFileA(path(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return true;
        CloseHandle(h);
        return false;
    }
    // The diagnostic lines, checked to be followed by a call-stack table.
    static std::string lines_before_table(const std::string& error) {
        const std::size_t at = error.find(table_header);
        EXPECT_NE(at, std::string::npos) << error;
        return error.substr(0, at);
    }

    std::string dir_;
    HANDLE holder_ = INVALID_HANDLE_VALUE;
};

TEST_F(system_refusal_run, shows_the_system_text_when_the_input_is_held_without_sharing) {
    test_support::write_file(path("input.txt"), one_triangle);
    hold("input.txt", 0);
    const test_support::process_result r = run();
    EXPECT_EQ(r.exit_status, 30);
    const std::string text = system_text(ERROR_SHARING_VIOLATION);
    ASSERT_GT(text.size(), 2u);
    EXPECT_EQ(lines_before_table(r.standard_error),
              "iorun: " + text + "iorun: severe (30): open failure, unit 10, file " + path("input.txt") + "\r\n");
    EXPECT_FALSE(std::filesystem::exists(path("output.stl")));
}

TEST_F(system_refusal_run, reads_an_input_held_by_a_reader_that_shares_reading) {
    test_support::write_file(path("input.txt"), one_triangle);
    hold("input.txt", FILE_SHARE_READ);
    const test_support::process_result r = run();
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.standard_error, "");
    EXPECT_EQ(test_support::read_file(path("output.stl")), one_triangle_stl);
}

TEST_F(system_refusal_run, reads_a_read_only_input) {
    test_support::write_file(path("input.txt"), one_triangle);
    make_read_only("input.txt");
    const test_support::process_result r = run();
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.standard_error, "");
    EXPECT_EQ(test_support::read_file(path("output.stl")), one_triangle_stl);
    EXPECT_EQ(test_support::read_file(path("input.txt")), one_triangle);
}

TEST_F(system_refusal_run, refuses_to_write_a_read_only_output_and_keeps_it) {
    test_support::write_file(path("input.txt"), one_triangle);
    test_support::write_file(path("output.stl"), "old contents\r\n");
    make_read_only("output.stl");
    if (!is_writing_refused("output.stl")) GTEST_SKIP() << "this system lets the user write read-only files";
    const test_support::process_result r = run();
    EXPECT_EQ(r.exit_status, 47);
    EXPECT_EQ(lines_before_table(r.standard_error),
              "iorun: severe (47): write to READONLY file, unit 20, file " + path("output.stl") + "\r\n");
    EXPECT_EQ(test_support::read_file(path("output.stl")), "old contents\r\n");
}

TEST_F(system_refusal_run, refuses_a_folder_named_input_txt) {
    ASSERT_TRUE(CreateDirectoryA(path("input.txt").c_str(), nullptr));
    const test_support::process_result r = run();
    EXPECT_EQ(r.exit_status, 9);
    EXPECT_EQ(lines_before_table(r.standard_error),
              "iorun: severe (9): permission to access file denied, unit 10, file " + path("input.txt") + "\r\n");
}

TEST_F(system_refusal_run, ends_every_line_of_the_error_stream_with_cr_lf) {
    const test_support::process_result r = run();
    EXPECT_EQ(r.exit_status, 24);
    EXPECT_EQ(lines_before_table(r.standard_error),
              "iorun: severe (24): end-of-file during read, unit 10, file " + path("input.txt") + "\r\n");
    ASSERT_GE(r.standard_error.size(), 2u);
    EXPECT_EQ(r.standard_error.substr(r.standard_error.size() - 2), "\r\n");
    for (std::size_t at = r.standard_error.find('\n'); at != std::string::npos; at = r.standard_error.find('\n', at + 1))
        EXPECT_EQ(r.standard_error[at - 1], '\r') << "at " << at;
    EXPECT_EQ(test_support::read_file(path("input.txt")), "");
    EXPECT_EQ(r.standard_output, "");
}

}  // namespace
