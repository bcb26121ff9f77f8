// The Windows backend against the system itself: error kinds from real
// refusals, file kinds, the system's own error texts and the x87 and SSE
// control registers.
#include "platform/console_ops.hpp"
#include "platform/file_ops.hpp"
#include "platform/fp_control.hpp"
#include "platform/stack_ops.hpp"
#include "tests/support/files.hpp"

#include <gtest/gtest.h>
#include <windows.h>
#include <xmmintrin.h>

#include <cstdint>
#include <string>

namespace {

using platform::os_error;

const platform::file_ops& files() { return platform::native_file_ops(); }

struct refusal_case {
    const char* name;
    std::string path;
    os_error kind;
    std::uint32_t code;
};

TEST(open_file, classifies_what_the_system_refuses) {
    test_support::scoped_work_dir dir;
    CreateDirectoryA("folder", nullptr);
    const refusal_case cases[] = {
        {"missing folder", "no-such-folder\\input.txt", os_error::path_not_found, ERROR_PATH_NOT_FOUND},
        {"wildcard in the name", "in?ut.txt", os_error::invalid_name, ERROR_INVALID_NAME},
        {"a folder", "folder", os_error::access_denied, ERROR_ACCESS_DENIED},
        {"name longer than a component may be", std::string(300, 'n'), os_error::name_too_long,
         ERROR_FILENAME_EXCED_RANGE},
    };
    for (const refusal_case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::file_handle h = platform::no_file;
        const platform::os_result r =
            files().open_file(c.path.c_str(), platform::file_access::read_write, platform::file_share::read, &h);
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(h, platform::no_file);
    }
}

TEST(open_file, meets_another_handle_by_its_share_mode) {
    test_support::scoped_work_dir dir;
    test_support::write_file("input.txt", "1\n");
    struct holder_case {
        const char* name;
        DWORD access;
        DWORD share;
        bool read_write_opens;
        bool read_opens;  // with read and write sharing
    };
    const holder_case cases[] = {
        {"no sharing", GENERIC_READ, 0, false, false},
        {"reading shared", GENERIC_READ, FILE_SHARE_READ, false, true},
        {"reading and writing shared", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true, true},
    };
    for (const holder_case& c : cases) {
        SCOPED_TRACE(c.name);
        const HANDLE holder =
            CreateFileA("input.txt", c.access, c.share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        platform::file_handle h = platform::no_file;
        platform::os_result r =
            files().open_file("input.txt", platform::file_access::read_write, platform::file_share::read, &h);
        if (c.read_write_opens) {
            EXPECT_TRUE(r.is_ok());
            EXPECT_TRUE(files().close_file(h).is_ok());
        } else {
            EXPECT_EQ(r.kind, os_error::sharing_violation);
            EXPECT_EQ(r.code, static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
        }
        r = files().open_file("input.txt", platform::file_access::read, platform::file_share::read_write, &h);
        EXPECT_EQ(r.is_ok(), c.read_opens);
        if (r.is_ok()) {
            EXPECT_TRUE(files().close_file(h).is_ok());
        }
        CloseHandle(holder);
    }
}

// Wine run by the administrator maps the attribute onto permission bits that
// do not bind the administrator.
bool is_writing_refused(const char* path) {
    const HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return true;
    CloseHandle(h);
    return false;
}

TEST(open_file, refuses_writing_a_read_only_file_and_reads_it) {
    test_support::scoped_work_dir dir;
    test_support::write_file("output.stl", "old\r\n");
    ASSERT_TRUE(SetFileAttributesA("output.stl", FILE_ATTRIBUTE_READONLY));
    if (!is_writing_refused("output.stl")) GTEST_SKIP() << "this system lets the user write read-only files";
    platform::file_handle h = platform::no_file;
    platform::os_result r =
        files().open_file("output.stl", platform::file_access::read_write, platform::file_share::read, &h);
    EXPECT_EQ(r.kind, os_error::access_denied);
    EXPECT_EQ(r.code, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    r = files().open_file("output.stl", platform::file_access::read, platform::file_share::read, &h);
    ASSERT_TRUE(r.is_ok());
    char bytes[16];
    std::size_t got = 0;
    EXPECT_TRUE(files().read_file(h, bytes, sizeof bytes, &got).is_ok());
    EXPECT_EQ(std::string(bytes, got), "old\r\n");
    std::size_t written = 0;
    r = files().write_file(h, "x", 1, &written);
    EXPECT_EQ(r.kind, os_error::access_denied);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(files().close_file(h).is_ok());
}

TEST(file_ops, read_write_and_cut_a_disk_file) {
    test_support::scoped_work_dir dir;
    test_support::write_file("output.stl", std::string(100000, 'x'));
    platform::file_handle h = platform::no_file;
    ASSERT_TRUE(
        files().open_file("output.stl", platform::file_access::read_write, platform::file_share::read, &h).is_ok());
    EXPECT_EQ(files().get_file_kind(h), platform::file_kind::disk);
    std::size_t written = 0;
    ASSERT_TRUE(files().write_file(h, "solid sample\r\n", 14, &written).is_ok());
    EXPECT_EQ(written, 14u);
    ASSERT_TRUE(files().set_end_of_file(h).is_ok());
    char byte = 0;
    std::size_t got = 1;
    // At the end of the file ReadFile succeeds with nothing read.
    EXPECT_TRUE(files().read_file(h, &byte, 1, &got).is_ok());
    EXPECT_EQ(got, 0u);
    ASSERT_TRUE(files().close_file(h).is_ok());
    EXPECT_EQ(test_support::read_file("output.stl"), "solid sample\r\n");
}

TEST(get_file_kind, tells_devices_and_pipes_from_disk_files) {
    platform::file_handle h = platform::no_file;
    ASSERT_TRUE(files().open_file("NUL", platform::file_access::read_write, platform::file_share::read, &h).is_ok());
    EXPECT_EQ(files().get_file_kind(h), platform::file_kind::character);
    EXPECT_TRUE(files().close_file(h).is_ok());
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
    EXPECT_EQ(files().get_file_kind(reinterpret_cast<platform::file_handle>(read_end)), platform::file_kind::pipe);
    CloseHandle(read_end);
    CloseHandle(write_end);
}

TEST(get_full_path, gives_the_length_or_the_room_it_needs) {
    test_support::scoped_work_dir dir;
    const std::string expected = dir.path() + "\\input.txt";
    char path[300];
    EXPECT_EQ(files().get_full_path("input.txt", path, sizeof path), expected.size());
    EXPECT_EQ(std::string(path), expected);
    EXPECT_EQ(files().get_full_path("input.txt", path, expected.size()), expected.size() + 1);
}

// The system's texts, as FormatMessageA gives them, with their CR LF.
std::string system_text(DWORD code) {
    char text[1024];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    return std::string(text, n);
}

TEST(describe_os_error, gives_the_system_text_with_its_line_end) {
    const platform::console_ops& console = platform::native_console_ops();
    constexpr DWORD codes[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION,
                               ERROR_HANDLE_EOF,     ERROR_DISK_FULL,     ERROR_WRITE_PROTECT};
    for (const DWORD code : codes) {
        SCOPED_TRACE(code);
        char text[1024];
        const std::size_t n = console.describe_os_error(code, text, sizeof text);
        ASSERT_GT(n, 2u);
        EXPECT_EQ(std::string(text, n), system_text(code));
        EXPECT_EQ(std::string(text + n - 2, 2), "\r\n");
        EXPECT_EQ(std::string(text, n).find_first_of("\r\n"), n - 2) << "one line";
    }
    char text[1024];
    EXPECT_EQ(console.describe_os_error(99999, text, sizeof text), 0u);
    EXPECT_EQ(console.describe_os_error(ERROR_FILE_NOT_FOUND, text, 4), 0u) << "does not fit";
}

std::uint16_t x87_control_word() {
    std::uint16_t control = 0;
    asm volatile("fnstcw %0" : "=m"(control));
    return control;
}

void set_x87_control_word(std::uint16_t control) { asm volatile("fldcw %0" : : "m"(control)); }

TEST(reset_fp_environment, masks_everything_at_53_bits_and_keeps_rounding) {
    const platform::fp_ops& fp = platform::get_fp_ops();
    const std::uint16_t saved_control = x87_control_word();
    const unsigned saved_csr = _mm_getcsr();
    // Unmasked, 64-bit significands, rounding down; SSE unmasked, flushing.
    set_x87_control_word(0x0700);
    _mm_setcsr(0x8040 | 0x2000 | 0x003f);
    fp.reset_fp_environment();
    EXPECT_EQ(x87_control_word() & 0x033f, 0x023f) << std::hex << x87_control_word();
    EXPECT_EQ(x87_control_word() & 0x0c00, 0x0400) << "rounding kept";
    EXPECT_EQ(_mm_getcsr() & 0xffff, 0x1f80u | 0x2000u) << std::hex << _mm_getcsr();
    fp.set_fp_modes({true, true});
    EXPECT_TRUE(fp.get_fp_modes().flush_to_zero);
    EXPECT_EQ(fp.get_fp_modes().denormals_are_zero, fp.has_denormals_are_zero());
    set_x87_control_word(saved_control);
    _mm_setcsr(saved_csr);
}

TEST(describe_pc, names_the_module_and_shows_the_address_itself) {
    const platform::stack_ops& stack = platform::native_stack_ops();
    char module[64];
    const auto own = reinterpret_cast<std::uintptr_t>(&x87_control_word);
    EXPECT_EQ(stack.describe_pc(own, module, sizeof module), static_cast<std::uint32_t>(own));
    EXPECT_STREQ(module, "win32_tests.exe");
    const auto system = reinterpret_cast<std::uintptr_t>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "Sleep"));
    EXPECT_EQ(stack.describe_pc(system, module, sizeof module), static_cast<std::uint32_t>(system));
    EXPECT_STREQ(module, "kernel32.dll");
    EXPECT_EQ(stack.describe_pc(0x10, module, sizeof module), 0x10u);
    EXPECT_STREQ(module, "");
    EXPECT_EQ(stack.describe_pc(own, module, 4), static_cast<std::uint32_t>(own));
    EXPECT_STREQ(module, "win");
}

__attribute__((noinline)) int walk_here(std::uintptr_t* pcs, int max_frames) {
    return platform::native_stack_ops().walk_stack(nullptr, pcs, max_frames);
}

TEST(walk_stack, starts_in_its_caller_and_reaches_the_system) {
    const platform::stack_ops& stack = platform::native_stack_ops();
    ASSERT_TRUE(stack.prepare_stack_walk());
    std::uintptr_t pcs[64];
    const int n = walk_here(pcs, 64);
    ASSERT_GT(n, 3);
    char module[64];
    bool reaches_system = false;
    for (int i = 0; i < n; ++i) {
        (void)stack.describe_pc(pcs[i], module, sizeof module);
        if (std::string(module) == "kernel32.dll" || std::string(module) == "ntdll.dll") reaches_system = true;
    }
    EXPECT_TRUE(reaches_system);
    (void)stack.describe_pc(pcs[0], module, sizeof module);
    EXPECT_STREQ(module, "win32_tests.exe");
    EXPECT_EQ(walk_here(pcs, 2), 2);
}

}  // namespace
