#include "converter/coordinate_tables.hpp"

#include "tests/support/fault_plan.hpp"
#include "tests/support/process.hpp"

#include <gtest/gtest.h>

namespace {

TEST(create_coordinate_tables, lays_out_zeroed_tables_column_by_column) {
    const converter::coordinate_tables t = converter::create_coordinate_tables(5);
    ASSERT_EQ(t.rows, 5u);
    EXPECT_EQ(t.index(0, 0), 0u);
    EXPECT_EQ(t.index(4, 0), 4u);
    EXPECT_EQ(t.index(0, 1), 5u);
    EXPECT_EQ(t.index(4, 2), 14u);
    for (std::size_t i = 0; i < 15; ++i) {
        EXPECT_EQ(t.x[i], 0.0f);
        EXPECT_EQ(t.y[i], 0.0f);
        EXPECT_EQ(t.z[i], 0.0f);
    }
    for (const std::int32_t empty : {0, -1, -2147483647 - 1}) {
        const converter::coordinate_tables e = converter::create_coordinate_tables(empty);
        EXPECT_EQ(e.rows, 0u);
        EXPECT_EQ(e.x, nullptr);
    }
}

struct table_failure_case {
    const char* name;
    std::int32_t count;
    int failing_allocation;  // 0: none refused
    int status;
    const char* line;
};

void PrintTo(const table_failure_case& c, std::ostream* os) { *os << c.name; }

class create_coordinate_tables_deathtest : public testing::TestWithParam<table_failure_case> {};

TEST_P(create_coordinate_tables_deathtest, reports_and_exits) {
    const table_failure_case& c = GetParam();
    const test_support::process_result r = test_support::run_in_child([&] {
        test_support::fault_plan plan;
        if (c.failing_allocation > 0) plan.fail_allocation(c.failing_allocation);
        (void)converter::create_coordinate_tables(c.count);
    });
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(r.standard_error, c.line);
}

const table_failure_case table_failures[] = {
    {"size_past_32_bits", 357913942, 0, 179,
     "iorun: severe (179): Cannot allocate array - overflow on array size calculation.\r\n"},
    {"largest_count", 2147483647, 0, 179,
     "iorun: severe (179): Cannot allocate array - overflow on array size calculation.\r\n"},
    {"x_table_refused", 357913941, 1, 41, "iorun: severe (41): insufficient virtual memory\r\n"},
    {"z_table_refused", 1000, 3, 41, "iorun: severe (41): insufficient virtual memory\r\n"},
};

INSTANTIATE_TEST_SUITE_P(failures, create_coordinate_tables_deathtest, testing::ValuesIn(table_failures),
                         [](const testing::TestParamInfo<table_failure_case>& p) { return p.param.name; });

}  // namespace
