#include "textio/connection.hpp"

#include "tests/support/fault_plan.hpp"
#include "tests/support/files.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using platform::os_error;
using test_support::fault_plan;
using test_support::file_call;
using textio::message;

constexpr std::int32_t unit = 10;

message open_input() { return textio::open_connection(unit, "input.txt", 9); }

struct open_failure_case {
    const char* name;
    platform::os_result first;
    platform::os_result retry;  // none: the retry, if any, is not refused
    message expected;
    std::uint32_t saved;
};

TEST(open_connection, maps_each_kind_of_open_failure) {
    const platform::os_result none{};
    const open_failure_case cases[] = {
        {"file not found", {os_error::file_not_found, 2}, none, message::file_not_found, 0},
        {"path not found", {os_error::path_not_found, 3}, none, message::file_not_found, 0},
        {"invalid name", {os_error::invalid_name, 123}, none, message::file_name_specification_error, 0},
        {"name too long", {os_error::name_too_long, 206}, none, message::file_name_specification_error, 0},
        {"already exists", {os_error::already_exists, 80}, none, message::cannot_overwrite_existing_file, 0},
        {"access denied twice", {os_error::access_denied, 5}, {os_error::access_denied, 5},
         message::permission_denied, 0},
        {"write protect, then denied", {os_error::write_protect, 19}, {os_error::access_denied, 5},
         message::permission_denied, 0},
        {"denied, then not found", {os_error::access_denied, 5}, {os_error::file_not_found, 2},
         message::file_not_found, 0},
        {"no such device", {os_error::no_such_device, 15}, none, message::no_such_device, 0},
        {"too many open files", {os_error::too_many_open_files, 4}, none, message::open_failure, 0},
        {"sharing violation twice", {os_error::sharing_violation, 32}, {os_error::sharing_violation, 32},
         message::open_failure, 32},
        {"anything else", {os_error::other, 1}, none, message::open_failure, 1},
    };
    for (const open_failure_case& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::scoped_work_dir dir;
        fault_plan plan;
        plan.fail(file_call::open_file, 1, c.first);
        if (c.retry.kind != os_error::none) plan.fail(file_call::open_file, 2, c.retry);
        EXPECT_EQ(open_input(), c.expected);
        const textio::connection* conn = textio::find_connection(unit);
        ASSERT_NE(conn, nullptr);
        EXPECT_EQ(conn->state, textio::connection_state::failed);
        EXPECT_EQ(conn->saved_error, c.saved);
        EXPECT_EQ(std::string(conn->name), (std::filesystem::path(dir.path()) / "input.txt").string());
        textio::discard_failed_connection(unit);
        EXPECT_EQ(textio::find_connection(unit), nullptr);
    }
}

TEST(open_connection, falls_back_to_reading_alone) {
    struct fallback_case {
        const char* name;
        platform::os_result first;
        int opens;
    };
    const fallback_case cases[] = {
        {"access denied", {os_error::access_denied, 5}, 2},
        {"write protect", {os_error::write_protect, 19}, 2},
        {"sharing violation", {os_error::sharing_violation, 32}, 2},
    };
    for (const fallback_case& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::scoped_work_dir dir;
        test_support::write_file("input.txt", "1\n");
        fault_plan plan;
        plan.fail(file_call::open_file, 1, c.first);
        EXPECT_EQ(open_input(), message::none);
        EXPECT_EQ(plan.count(file_call::open_file), c.opens);
        EXPECT_TRUE(textio::find_connection(unit)->is_read_only);
        EXPECT_EQ(textio::close_connection(unit), message::none);
    }
}

TEST(open_connection, stores_the_full_path_and_creates_a_missing_file) {
    test_support::scoped_work_dir dir;
    ASSERT_EQ(textio::open_connection(unit, "  input.txt  \0", 14), message::none);
    const textio::connection* c = textio::find_connection(unit);
    EXPECT_EQ(std::string(c->name, static_cast<std::size_t>(c->name_length)), (std::filesystem::path(dir.path()) / "input.txt").string());
    EXPECT_TRUE(c->is_disk_file);
    EXPECT_TRUE(c->has_pending_truncation);
    EXPECT_FALSE(c->is_read_only);
    EXPECT_EQ(textio::close_connection(unit), message::none);
    EXPECT_EQ(test_support::read_file("input.txt"), "");
}

TEST(open_connection, keeps_the_relative_name_when_the_full_path_is_257_bytes_or_more) {
    test_support::scoped_work_dir dir;
    // Nest until the full path of input.txt is just past the limit.
    std::filesystem::path deep = dir.path();
    while ((deep / "input.txt").string().size() < textio::full_path_buffer_bytes) deep /= "d";
    std::filesystem::create_directories(deep);
    std::filesystem::current_path(deep);
    ASSERT_EQ((deep / "input.txt").string().size(), textio::full_path_buffer_bytes);
    ASSERT_EQ(open_input(), message::none);
    EXPECT_STREQ(textio::find_connection(unit)->name, "input.txt");
    EXPECT_EQ(textio::close_connection(unit), message::none);
    EXPECT_TRUE(std::filesystem::exists(deep / "input.txt"));

    std::filesystem::current_path(deep.parent_path());
    ASSERT_EQ(open_input(), message::none);
    EXPECT_EQ(std::string(textio::find_connection(unit)->name), (deep.parent_path() / "input.txt").string());
    EXPECT_EQ(textio::close_connection(unit), message::none);
}

TEST(open_connection, refuses_a_directory_as_permission_denied) {
    test_support::scoped_work_dir dir;
    std::filesystem::create_directory("input.txt");
    fault_plan plan;
    EXPECT_EQ(open_input(), message::permission_denied);
    EXPECT_EQ(plan.count(file_call::open_file), 2);
    textio::discard_failed_connection(unit);
}

TEST(open_connection, reports_storage_that_cannot_be_had) {
    for (const int nth : {1, 2}) {
        SCOPED_TRACE(nth == 1 ? "stored name" : "record buffer");
        test_support::scoped_work_dir dir;
        fault_plan plan;
        plan.fail_allocation(nth);
        EXPECT_EQ(open_input(), message::insufficient_virtual_memory);
        const textio::connection* c = textio::find_connection(unit);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->name == nullptr, nth == 1);
        // A handle obtained before the buffer failed does not leak.
        EXPECT_EQ(plan.count(file_call::close_file), nth == 1 ? 0 : 1);
        textio::discard_failed_connection(unit);
    }
}

TEST(close_connection, does_nothing_for_a_unit_not_connected) {
    fault_plan plan;
    EXPECT_EQ(textio::close_connection(unit), message::none);
    EXPECT_TRUE(plan.calls().empty());
}

TEST(close_connection, keeps_the_name_of_a_failed_close_for_the_report) {
    test_support::scoped_work_dir dir;
    fault_plan plan;
    ASSERT_EQ(open_input(), message::none);
    plan.fail(file_call::close_file, 1, {os_error::other, 5});
    EXPECT_EQ(textio::close_connection(unit), message::close_error);
    const textio::connection* c = textio::find_connection(unit);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->state, textio::connection_state::failed);
    EXPECT_EQ(c->saved_error, 5u);
    textio::discard_failed_connection(unit);
    EXPECT_EQ(textio::close_connection(unit), message::none);
}

TEST(close_all_connections, closes_all_but_the_held_unit_and_hands_failures_on) {
    test_support::scoped_work_dir dir;
    static int failures;
    failures = 0;
    fault_plan plan;
    ASSERT_EQ(open_input(), message::none);
    ASSERT_EQ(textio::open_connection(20, "output.stl", 10), message::none);
    ASSERT_EQ(textio::open_connection(30, "other", 5), message::none);
    EXPECT_TRUE(textio::take_connections_exist_mark());
    EXPECT_FALSE(textio::take_connections_exist_mark());
    plan.fail(file_call::close_file, 1, {os_error::other, 5});
    textio::close_all_connections(20, [](message m, const textio::connection& c) {
        EXPECT_EQ(m, message::close_error);
        EXPECT_EQ(c.unit, 10);
        ++failures;
    });
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(textio::find_connection(10), nullptr);
    EXPECT_EQ(textio::find_connection(30), nullptr);
    ASSERT_NE(textio::find_connection(20), nullptr);
    EXPECT_EQ(textio::close_connection(20), message::none);
}

}  // namespace
