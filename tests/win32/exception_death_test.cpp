// Processor exceptions raised on purpose inside the guarded region: each ends
// in its "Program Exception" diagnostic with its number as exit status, and the
// call-stack table starts at the faulting instruction, named by its module and
// its 32-bit address.
#include "runtime/entry.hpp"

#include "tests/support/files.hpp"
#include "tests/support/process.hpp"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

__attribute__((noinline)) int touch_null() {
    volatile int* volatile p = nullptr;
    *p = 1;
    return 1;
}

// The depth is never reached: the stack runs out first.
volatile int unreachable_depth = 1 << 30;

__attribute__((noinline)) int recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == unreachable_depth) return 0;
    return recurse(depth + 1) + frame[0];
}

__attribute__((noinline)) int overflow_stack() { return recurse(0); }

__attribute__((noinline)) int divide_by_zero() {
    volatile int a = 1;
    volatile int b = 0;
    return a / b;
}

__attribute__((noinline)) int hit_breakpoint() {
    asm volatile("int3");
    return 1;
}

__attribute__((noinline)) int run_illegal_instruction() {
    asm volatile("ud2");
    return 1;
}

__attribute__((noinline)) int run_privileged_instruction() {
    asm volatile("hlt");
    return 1;
}

__attribute__((noinline)) int step_once() {
    asm volatile("pushfl\n\torl $0x100, (%%esp)\n\tpopfl\n\tnop" : : : "memory", "cc");
    return 1;
}

__attribute__((noinline)) int overflow_on_into() {
    asm volatile("movl $0x7fffffff, %%eax\n\taddl $1, %%eax\n\tinto" : : : "eax", "cc");
    return 1;
}

__attribute__((noinline)) int exceed_bounds() {
    static const std::int32_t bounds[2] = {0, 1};
    asm volatile("movl $5, %%eax\n\tbound %%eax, %0" : : "m"(bounds) : "eax");
    return 1;
}

__attribute__((noinline)) int raise_other() {
    RaiseException(0xE0001234, 0, 0, nullptr);
    return 1;
}

struct exception_case {
    const char* name;
    runtime::driver_routine driver;
    const void* faulting_routine;  // nullptr: the fault lies in a system DLL
    int status;
    const char* line;
};

void PrintTo(const exception_case& c, std::ostream* os) { *os << c.name; }

constexpr char table_header[] = "Image              PC        Routine            Line        Source             \r\n";
constexpr std::size_t table_header_bytes = sizeof table_header - 1;
constexpr std::size_t row_bytes = 69;  // 67 characters and CR LF
constexpr char overflow_note[] = "\r\nStack trace buffer overflow; further frames not shown.\r\n";
// A routine of these drivers is far shorter than this.
constexpr std::uintptr_t routine_reach_bytes = 256;

class processor_exception_deathtest : public testing::TestWithParam<exception_case> {};

TEST_P(processor_exception_deathtest, reports_the_exception_and_exits_with_its_number) {
    const exception_case& c = GetParam();
    test_support::scoped_work_dir dir;
    const test_support::process_result r = test_support::run_in_child([&] { std::exit(runtime::run_entry(c.driver)); });
    EXPECT_EQ(r.exit_status, c.status);
    const std::string first = std::string(c.line) + "\r\n";
    ASSERT_EQ(r.standard_error.substr(0, first.size()), first);
    const std::string table = r.standard_error.substr(first.size());
    ASSERT_EQ(table.substr(0, table_header_bytes), table_header);
    ASSERT_GE(table.size(), table_header_bytes + row_bytes);
    for (std::size_t at = table.find('\n'); at != std::string::npos; at = table.find('\n', at + 1))
        ASSERT_EQ(table[at - 1], '\r') << "a line without CR at " << at;

    // A table too long for the buffer ends in its note, after a row cut short.
    const std::size_t note = table.find(overflow_note);
    const std::string rows = table.substr(0, note);
    if (note != std::string::npos) {
        EXPECT_EQ(table.substr(note), overflow_note);
    }

    // Every row: module, two blanks, the address in 8 upper-case hexadecimal
    // digits, then the unknown columns.
    bool shows_a_system_module = false;
    for (std::size_t at = table_header_bytes; at + row_bytes <= rows.size(); at += row_bytes) {
        const std::string row = rows.substr(at, row_bytes);
        EXPECT_EQ(row.substr(17, 2), "  ") << row;
        EXPECT_EQ(row.find_first_not_of("0123456789ABCDEF", 19), 27u) << row;
        EXPECT_EQ(row.substr(27), "  Unknown               Unknown  Unknown\r\n") << row;
        const std::string module = row.substr(0, row.find(' '));
        if (module == "kernel32.dll" || module == "ntdll.dll") shows_a_system_module = true;
    }
    // A stack overflow's table is full of its recursion before the bottom.
    if (c.driver != overflow_stack) {
        EXPECT_TRUE(shows_a_system_module) << table;
    }

    const std::string row = table.substr(table_header_bytes, row_bytes);
    if (c.faulting_routine == nullptr) {
        EXPECT_NE(row[0], ' ') << row;
        return;
    }
    EXPECT_EQ(row.substr(0, 19), "win32_tests.exe    ");
    const std::uintptr_t pc = std::stoul(row.substr(19, 8), nullptr, 16);
    const auto routine = reinterpret_cast<std::uintptr_t>(c.faulting_routine);
    EXPECT_GE(pc, routine);
    EXPECT_LT(pc, routine + routine_reach_bytes);
}

const void* address_of(int (*routine)()) { return reinterpret_cast<const void*>(routine); }

const exception_case exception_cases[] = {
    {"access_violation", touch_null, address_of(touch_null), 157, "iorun: severe (157): Program Exception - access violation"},
    {"stack_overflow", overflow_stack, reinterpret_cast<const void*>(&recurse), 170,
     "iorun: severe (170): Program Exception - stack overflow"},
    {"integer_divide_by_zero", divide_by_zero, address_of(divide_by_zero), 164,
     "iorun: severe (164): Program Exception - integer divide by zero"},
    {"breakpoint", hit_breakpoint, address_of(hit_breakpoint), 159, "iorun: severe (159): Program Exception - breakpoint"},
    {"illegal_instruction", run_illegal_instruction, address_of(run_illegal_instruction), 168,
     "iorun: severe (168): Program Exception - illegal instruction"},
    {"privileged_instruction", run_privileged_instruction, address_of(run_privileged_instruction), 166,
     "iorun: severe (166): Program Exception - privileged instruction"},
    {"single_step", step_once, address_of(step_once), 160, "iorun: severe (160): Program Exception - single step"},
    {"integer_overflow", overflow_on_into, address_of(overflow_on_into), 165,
     "iorun: severe (165): Program Exception - integer overflow"},
    {"array_bounds_exceeded", exceed_bounds, address_of(exceed_bounds), 161,
     "iorun: severe (161): Program Exception - array bounds exceeded"},
    {"other_code", raise_other, nullptr, 172, "iorun: severe (172): Program Exception - exception code = 0x1234 (4660)"},
};

INSTANTIATE_TEST_SUITE_P(exceptions, processor_exception_deathtest, testing::ValuesIn(exception_cases),
                         [](const testing::TestParamInfo<exception_case>& p) { return p.param.name; });

}  // namespace
