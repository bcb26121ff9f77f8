// Processor exceptions raised on purpose inside the guarded region: each ends
// in its "Program Exception" diagnostic, with a call-stack table that starts
// at the faulting instruction, and its number as exit status.
#include "runtime/entry.hpp"

#include "tests/support/files.hpp"
#include "tests/support/process.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

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

// The division is the fault under test: the undefined-behaviour checker must
// let the processor raise it.
__attribute__((noinline, no_sanitize("integer-divide-by-zero"))) int divide_by_zero() {
    volatile int a = 1;
    volatile int b = 0;
    return a / b;
}

__attribute__((noinline)) int step_once() {
#if defined(__x86_64__)
    asm volatile("pushfq\n\torq $0x100, (%rsp)\n\tpopfq\n\tnop");
#endif
    return 1;
}

__attribute__((noinline)) int load_misaligned() {
    alignas(8) static char bytes[16] = {};
#if defined(__x86_64__)
    asm volatile("pushfq\n\torq $0x40000, (%rsp)\n\tpopfq");
#endif
    volatile int* p = reinterpret_cast<volatile int*>(bytes + 1);
    return *p;
}

__attribute__((noinline)) int read_past_mapped_file() {
    const int fd = ::open("empty", O_RDWR | O_CREAT | O_TRUNC, 0644);
    void* page = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    return *static_cast<volatile char*>(page);
}

__attribute__((noinline)) int raise_other() {
    ::raise(SIGFPE);
    return 1;
}

struct exception_case {
    const char* name;
    runtime::driver_routine driver;
    int status;
    const char* line;
    bool faults_in_routine = true;  // false: the fault lies in the C library
};

void PrintTo(const exception_case& c, std::ostream* os) { *os << c.name; }

// Where the routine lies, as the table shows it: relative to the module.
std::uintptr_t shown_address(const void* routine) {
    Dl_info info{};
    if (::dladdr(routine, &info) == 0) return 0;
    return reinterpret_cast<std::uintptr_t>(routine) - reinterpret_cast<std::uintptr_t>(info.dli_fbase);
}

class processor_exception_deathtest : public testing::TestWithParam<exception_case> {};

TEST_P(processor_exception_deathtest, reports_the_exception_and_exits_with_its_number) {
    const exception_case& c = GetParam();
    test_support::scoped_work_dir dir;
    const test_support::process_result r = test_support::run_in_child([&] { std::exit(runtime::run_entry(c.driver)); });
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, c.status);
    const std::string first = std::string(c.line) + "\r\n";
    ASSERT_EQ(r.standard_error.substr(0, first.size()), first);
    const std::string table = r.standard_error.substr(first.size());
    ASSERT_EQ(table.substr(0, 81),
              "Image              PC        Routine            Line        Source             \r\n");
    // The first row is the faulting instruction, inside the routine that faulted.
    const std::string row = table.substr(81, 69);
    EXPECT_EQ(row.substr(27), "  Unknown               Unknown  Unknown\r\n");
    if (!c.faults_in_routine) return;
    EXPECT_EQ(row.substr(0, 19), "death_tests        ");
    const std::uintptr_t pc = std::stoul(row.substr(19, 8), nullptr, 16);
    const std::uintptr_t routine = shown_address(reinterpret_cast<const void*>(c.driver));
    if (c.driver != overflow_stack) {
        EXPECT_GE(pc, routine);
        EXPECT_LT(pc, routine + 256);
    }
}

const exception_case exception_cases[] = {
    {"access_violation", touch_null, 157, "iorun: severe (157): Program Exception - access violation"},
    {"stack_overflow", overflow_stack, 170, "iorun: severe (170): Program Exception - stack overflow"},
    {"breakpoint", hit_breakpoint, 159, "iorun: severe (159): Program Exception - breakpoint"},
    {"illegal_instruction", run_illegal_instruction, 168, "iorun: severe (168): Program Exception - illegal instruction"},
    {"privileged_instruction", run_privileged_instruction, 166,
     "iorun: severe (166): Program Exception - privileged instruction"},
    {"integer_divide_by_zero", divide_by_zero, 164, "iorun: severe (164): Program Exception - integer divide by zero"},
#if defined(__x86_64__)
    {"single_step", step_once, 160, "iorun: severe (160): Program Exception - single step"},
    {"datatype_misalignment", load_misaligned, 158, "iorun: severe (158): Program Exception - datatype misalignment"},
#endif
    {"in_page_error", read_past_mapped_file, 167, "iorun: severe (167): Program Exception - in page error"},
    {"any_other", raise_other, 172, "iorun: severe (172): Program Exception - exception code = 0x8 (8)", false},
};

INSTANTIATE_TEST_SUITE_P(exceptions, processor_exception_deathtest, testing::ValuesIn(exception_cases),
                         [](const testing::TestParamInfo<exception_case>& p) { return p.param.name; });

}  // namespace
