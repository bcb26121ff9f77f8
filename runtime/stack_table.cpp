#include "runtime/stack_table.hpp"

#include "platform/stack_ops.hpp"
#include "runtime/detail/text_format.hpp"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace runtime {
namespace {

constexpr char header_format[] = "%-19.19s%-10.10s%-19.19s%-12.12s%-19.19s";
constexpr char row_format[] = "%-17.17s  %8.8X  %-17.17s  %10.10s  %s";
constexpr char line_end[] = "\r\n";
constexpr char overflow_note[] = "\r\nStack trace buffer overflow; further frames not shown.\r\n";
constexpr char abnormal_note[] = "\r\nStack trace terminated abnormally.\r\n";
// No line-number tables are carried: routine, line and source are unknown.
constexpr char unknown[] = "Unknown";
static_assert(sizeof overflow_note - 1 <= stack_note_bytes);

// The header is 79 characters and its line end.
constexpr std::size_t header_room_bytes = 80;
// The fixed columns of a row: 17 + 2 + 8 + 2 + 17 + 2 + 10 + 2.
constexpr std::size_t row_fixed_bytes = 61;
// More rows than the largest room can hold.
constexpr int max_frames = 256;
constexpr std::size_t module_name_bytes = 64;

std::atomic_flag walk_in_progress = ATOMIC_FLAG_INIT;

// Formats one line with its line end, then copies what fits of it in room.
void put_line(detail::text_sink& table, std::size_t room, const char* format,
              std::span<const report_argument> arguments) {
    char line[256];
    detail::text_sink sink{line, sizeof line};
    detail::format_text(sink, format, arguments);
    sink.put(line_end, 2);
    const std::size_t left = room - table.length;
    table.put(line, sink.length <= left ? sink.length : left);
}

std::size_t make_table(char* out, std::size_t room, const void* context) {
    detail::text_sink table{out, room + stack_note_bytes};
    std::uintptr_t pcs[max_frames];
    const int frames = platform::get_stack_ops().walk_stack(context, pcs, max_frames);
    if (frames < 0) {
        table.put(abnormal_note);
        return table.length;
    }
    if (frames == 0) return 0;
    // A line that does not fit is cut at the room left, and the walk stops.
    const auto stop_for_room = [&table] {
        table.put(overflow_note);
        return table.length;
    };
    const report_argument header[] = {report_argument::of_text("Image"), report_argument::of_text("PC"),
                                      report_argument::of_text("Routine"), report_argument::of_text("Line"),
                                      report_argument::of_text("Source")};
    const bool has_header_room = room > header_room_bytes;
    put_line(table, room, header_format, header);
    if (!has_header_room) return stop_for_room();
    for (int i = 0; i < frames && pcs[i] != 0; ++i) {
        char module[module_name_bytes];
        const std::uint32_t shown = platform::get_stack_ops().describe_pc(pcs[i], module, sizeof module);
        const report_argument row[] = {report_argument::of_text(module), report_argument::of_number(static_cast<long>(shown)),
                                       report_argument::of_text(unknown), report_argument::of_text(unknown),
                                       report_argument::of_text(unknown)};
        const bool has_row_room = room > table.length + std::strlen(unknown) + row_fixed_bytes;
        put_line(table, room, row_format, row);
        if (!has_row_room) return stop_for_room();
    }
    return table.length;
}

}  // namespace

std::size_t append_stack_table(char* buffer, std::size_t at, std::size_t room, const void* context) noexcept {
    if (walk_in_progress.test_and_set(std::memory_order_acquire)) return at;
    const std::size_t n = make_table(buffer + at, room, context);
    walk_in_progress.clear(std::memory_order_release);
    return at + n;
}

}  // namespace runtime
