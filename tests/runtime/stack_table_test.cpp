#include "runtime/stack_table.hpp"

#include "platform/stack_ops.hpp"
#include "runtime/diagnostics.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A stack of a chosen depth; every frame lies in "tri2stl.exe" at 0x1000 + i.
int fake_depth = 0;

int fake_walk(const void*, std::uintptr_t* pcs, int max_frames) {
    if (fake_depth < 0) return -1;
    int n = 0;
    for (; n < fake_depth && n < max_frames; ++n) pcs[n] = 0x1000 + static_cast<std::uintptr_t>(n);
    return n;
}

std::uint32_t fake_describe(std::uintptr_t pc, char* module, std::size_t) {
    std::snprintf(module, 64, "%s", pc == 0x1001 ? "a_module_name_longer_than_17.dll" : "tri2stl.exe");
    return static_cast<std::uint32_t>(pc);
}

bool fake_prepare() { return true; }

constexpr platform::stack_ops fake_stack = {fake_prepare, fake_walk, fake_describe};

class stack_table_test : public testing::Test {
protected:
    void SetUp() override { platform::use_stack_ops(&fake_stack); }
    void TearDown() override { platform::use_stack_ops(nullptr); }

    static std::string table(int depth, std::size_t room) {
        fake_depth = depth;
        std::vector<char> buffer(runtime::diagnostic_buffer_bytes, '#');
        const std::size_t end = runtime::append_stack_table(buffer.data(), 10, room, nullptr);
        EXPECT_LE(end, 10 + room + runtime::stack_note_bytes);
        return std::string(buffer.data() + 10, end - 10);
    }
};

constexpr char header[] = "Image              PC        Routine            Line        Source             \r\n";

TEST_F(stack_table_test, writes_the_header_and_one_row_per_frame) {
    const std::string t = table(3, 16000);
    EXPECT_EQ(t, std::string(header) +
                     "tri2stl.exe        00001000  Unknown               Unknown  Unknown\r\n"
                     "a_module_name_lon  00001001  Unknown               Unknown  Unknown\r\n"
                     "tri2stl.exe        00001002  Unknown               Unknown  Unknown\r\n");
    EXPECT_EQ(std::string(header).size(), 81u);
}

TEST_F(stack_table_test, cuts_at_the_room_and_adds_the_overflow_note) {
    constexpr char note[] = "\r\nStack trace buffer overflow; further frames not shown.\r\n";
    struct room_case {
        std::size_t room;
        std::size_t rows;  // whole rows written
    };
    // A row is 69 bytes and needs room beyond the table so far plus 68.
    const room_case cases[] = {{80, 0}, {81, 0}, {81 + 68, 0}, {81 + 69, 1}, {81 + 69 + 68, 1}, {81 + 2 * 69, 2}};
    for (const room_case& c : cases) {
        SCOPED_TRACE(c.room);
        const std::string t = table(100, c.room);
        ASSERT_GE(t.size(), sizeof note - 1);
        EXPECT_EQ(t.substr(t.size() - (sizeof note - 1)), note);
        EXPECT_EQ(t.size() - (sizeof note - 1), c.room);
        if (c.room > 80) {
            EXPECT_EQ(t.substr(0, 81), header);
        }
        std::size_t whole = 0;
        for (std::size_t at = t.find("Unknown\r\n"); at != std::string::npos; at = t.find("Unknown\r\n", at + 1))
            ++whole;
        EXPECT_EQ(whole, c.rows);
    }
}

TEST_F(stack_table_test, says_so_when_the_stack_cannot_be_walked) {
    EXPECT_EQ(table(-1, 16000), "\r\nStack trace terminated abnormally.\r\n");
    EXPECT_EQ(table(0, 16000), "");
}

// A walk that asks for a second table while the first is being made.
int nested_walk(const void*, std::uintptr_t* pcs, int) {
    char inner[512];
    const std::size_t end = runtime::append_stack_table(inner, 7, 400, nullptr);
    pcs[0] = end == 7 ? 0x2222 : 0x9999;
    return 1;
}

TEST(append_stack_table, makes_one_table_at_a_time) {
    constexpr platform::stack_ops nested = {fake_prepare, nested_walk, fake_describe};
    platform::use_stack_ops(&nested);
    char buffer[1024];
    const std::size_t end = runtime::append_stack_table(buffer, 0, 900, nullptr);
    platform::use_stack_ops(nullptr);
    EXPECT_NE(std::string(buffer, end).find("00002222"), std::string::npos);
}

}  // namespace
