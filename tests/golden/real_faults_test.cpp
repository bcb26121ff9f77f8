// Whole runs against what the system itself refuses: a full device, an
// immutable file, a user without rights, a folder in place of a file, a path
// too long to store. Each ends in its diagnostic and leaves the files as the
// program promises.
#include "tests/support/files.hpp"
#include "tests/support/input_maker.hpp"
#include "tests/support/process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr char table_header[] = "Image              PC        Routine            Line        Source             \r\n";

class real_fault_run : public testing::Test {
protected:
    void SetUp() override { dir_ = fs::canonical(test_support::make_temp_dir()).string(); }
    void TearDown() override { test_support::remove_tree(dir_); }

    test_support::process_result run(const std::vector<std::string>& prefix = {}) {
        if (prefix.empty()) return test_support::run_program(test_support::tri2stl_path(), dir_);
        std::vector<std::string> arguments(prefix.begin() + 1, prefix.end());
        arguments.push_back(test_support::tri2stl_path());
        return test_support::run_program(prefix.front(), dir_, arguments);
    }
    // The diagnostic lines before the call-stack table, which must follow.
    static std::string lines_before_table(const std::string& error) {
        const std::size_t at = error.find(table_header);
        EXPECT_NE(at, std::string::npos) << error;
        return error.substr(0, at);
    }
    std::string path(const char* name) const { return dir_ + "/" + name; }

    std::string dir_;
};

TEST_F(real_fault_run, prints_the_table_under_a_severe_diagnostic) {
    test_support::write_file(path("input.txt"), "357913942\n");
    const test_support::process_result r = run();
    EXPECT_EQ(r.exit_status, 179);
    EXPECT_EQ(lines_before_table(r.standard_error),
              "iorun: severe (179): Cannot allocate array - overflow on array size calculation.\r\n");
    const std::string table = r.standard_error.substr(r.standard_error.find(table_header) + 81);
    ASSERT_FALSE(table.empty());
    std::size_t rows = 0;
    for (std::size_t at = 0; at < table.size(); ++rows) {
        const std::size_t end = table.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        const std::string row = table.substr(at, end - at);
        EXPECT_EQ(row.size(), 67u) << row;
        EXPECT_EQ(row.find_first_not_of("0123456789ABCDEF", 19), 27u) << row;
        EXPECT_EQ(row.substr(17, 2) + row.substr(27), "    Unknown               Unknown  Unknown") << row;
        at = end + 2;
    }
    EXPECT_GT(rows, 3u);
    EXPECT_FALSE(fs::exists(path("output.stl")));
}

TEST_F(real_fault_run, shows_the_system_text_when_the_disk_is_full) {
    test_support::write_file(path("input.txt"), "0\n");
    fs::create_symlink("/dev/full", path("output.stl"));
    const test_support::process_result r = run();
    EXPECT_EQ(r.exit_status, 38);
    EXPECT_EQ(lines_before_table(r.standard_error),
              "iorun: No space left on device\r\n"
              "iorun: severe (38): error during write, unit 20, file " + path("output.stl") + "\r\n");
}

TEST_F(real_fault_run, refuses_to_write_an_immutable_output_and_keeps_it) {
    test_support::write_file(path("input.txt"), "0\n");
    test_support::write_file(path("output.stl"), "old contents\r\n");
    if (std::system(("chattr +i " + path("output.stl") + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "this file system keeps no immutable flag";
    const test_support::process_result r = run();
    (void)std::system(("chattr -i " + path("output.stl")).c_str());
    EXPECT_EQ(r.exit_status, 47);
    EXPECT_EQ(lines_before_table(r.standard_error),
              "iorun: severe (47): write to READONLY file, unit 20, file " + path("output.stl") + "\r\n");
    EXPECT_EQ(test_support::read_file(path("output.stl")), "old contents\r\n");
}

TEST_F(real_fault_run, reads_an_input_the_user_may_not_write) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    test_support::write_file(path("input.txt"), "0\n");
    fs::permissions(dir_, fs::perms::all);  // the user may create output.stl
    fs::permissions(path("input.txt"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const test_support::process_result r = run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    EXPECT_EQ(r.exit_status, 0) << r.standard_error;
    EXPECT_EQ(test_support::read_file(path("output.stl")), "solid sample\r\nendsolid sample\r\n");
}

TEST_F(real_fault_run, refuses_a_missing_input_in_a_folder_the_user_may_not_write) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    const test_support::process_result r = run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    EXPECT_EQ(r.exit_status, 9);
    EXPECT_EQ(lines_before_table(r.standard_error),
              "iorun: severe (9): permission to access file denied, unit 10, file " + path("input.txt") + "\r\n");
    EXPECT_FALSE(fs::exists(path("input.txt")));
}

TEST_F(real_fault_run, refuses_a_folder_named_input_txt) {
    fs::create_directory(path("input.txt"));
    const test_support::process_result r = run();
    EXPECT_EQ(r.exit_status, 9);
    EXPECT_EQ(lines_before_table(r.standard_error),
              "iorun: severe (9): permission to access file denied, unit 10, file " + path("input.txt") + "\r\n");
}

TEST_F(real_fault_run, names_files_relatively_when_the_full_path_is_too_long) {
    fs::path deep = dir_;
    while ((deep / "input.txt").string().size() < 257) deep /= "d";
    fs::create_directories(deep);
    const test_support::process_result r = test_support::run_program(test_support::tri2stl_path(), deep.string());
    EXPECT_EQ(r.exit_status, 24);
    EXPECT_EQ(lines_before_table(r.standard_error), "iorun: severe (24): end-of-file during read, unit 10, file input.txt\r\n");
    EXPECT_EQ(test_support::read_file((deep / "input.txt").string()), "");
}

}  // namespace

namespace {

TEST(command_line, is_ignored) {
    const std::string dir = std::filesystem::canonical(test_support::make_temp_dir()).string();
    test_support::write_file(dir + "/input.txt", "0\n");
    const test_support::process_result r =
        test_support::run_program(test_support::tri2stl_path(), dir, {"-o", "other.stl", "\"quoted arg\"", "input.txt"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.standard_error, "");
    EXPECT_EQ(r.standard_output, "");
    EXPECT_EQ(test_support::read_file(dir + "/output.stl"), "solid sample\r\nendsolid sample\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "/other.stl"));
    test_support::remove_tree(dir);
}

}  // namespace

namespace {

// Runs tri2stl through bash, which sets up what the case needs first.
test_support::process_result run_through_shell(const std::string& dir, const std::string& setup) {
    return test_support::run_program("/bin/bash", dir, {"-c", setup + "; exec '" + test_support::tri2stl_path() + "'"});
}

TEST(file_size_limit, ends_in_the_write_error_with_whole_lines_only) {
    const std::string dir = std::filesystem::canonical(test_support::make_temp_dir()).string();
    std::string input = "20\n";
    for (int i = 0; i < 20; ++i) input += "1\n1 2 3\n4 5 6\n7 8 9\n";
    test_support::write_file(dir + "/input.txt", input);
    // 1 KiB: the limit falls inside a line.
    const test_support::process_result r = run_through_shell(dir, "ulimit -f 1");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, 38);
    EXPECT_EQ(r.standard_error.substr(0, r.standard_error.find("Image ")),
              "iorun: File too large\r\niorun: severe (38): error during write, unit 20, file " + dir +
                  "/output.stl\r\n");
    const std::string output = test_support::read_file(dir + "/output.stl");
    ASSERT_FALSE(output.empty());
    EXPECT_LE(output.size(), 1024u);
    EXPECT_EQ(output.substr(output.size() - 2), "\r\n");
    EXPECT_EQ(output.rfind("solid sample\r\nfacet normal", 0), 0u);
    test_support::remove_tree(dir);
}

TEST(standard_error, closed_pipe_still_gives_the_message_number) {
    const std::string dir = std::filesystem::canonical(test_support::make_temp_dir()).string();
    // The reader of standard error is gone before the diagnostic is written.
    const test_support::process_result r =
        run_through_shell(dir, "exec 2> >(exit 0); sleep 0.2");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, 24);
    test_support::remove_tree(dir);
}

TEST(console_events, leave_a_signal_ignored_by_the_caller_alone) {
    const std::string dir = std::filesystem::canonical(test_support::make_temp_dir()).string();
    test_support::write_file(dir + "/input.txt", test_support::make_triangle_input(50000, 7));
    const test_support::running_program p = test_support::start_program(
        "/bin/bash", dir, {"-c", "trap '' HUP; exec '" + test_support::tri2stl_path() + "'"});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    test_support::send_signal(p, SIGHUP);
    const test_support::process_result r = test_support::finish_program(p);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.standard_error, "");
    test_support::remove_tree(dir);
}

}  // namespace
