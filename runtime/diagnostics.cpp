#include "runtime/diagnostics.hpp"

#include "platform/console_ops.hpp"
#include "platform/memory_ops.hpp"
#include "runtime/detail/text_format.hpp"
#include "runtime/message_table.hpp"
#include "runtime/startup.hpp"
#include "textio/connection.hpp"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>

namespace runtime {
namespace {

// The formatted message text: the longest text with a 256-byte name fits.
constexpr std::size_t scratch_text_bytes = 395;
constexpr std::size_t system_text_bytes = 1024;
constexpr std::size_t line_end_bytes = 2;
// Room for the fallback buffer beyond the prefix and text: the number, the
// line end and the terminator.
constexpr std::size_t fallback_extra_bytes = 21;
constexpr char quoted_unknown_name[] = "\"Unknown\"";

// The unit whose failing statement is being reported on this thread; the
// closing sweep leaves that connection to the operating system.
thread_local std::int32_t held_unit = 0;

void write_line_end(detail::text_sink& sink) noexcept { sink.put("\r\n", line_end_bytes); }

// The last resort when not even a small buffer can be had.
void write_notice(std::uint16_t number) noexcept {
    char notice[64];
    detail::text_sink sink{notice, sizeof notice};
    const report_argument argument = report_argument::of_number(number);
    detail::format_text(sink, "iorun: no storage to report message %i", {&argument, 1});
    write_line_end(sink);
    platform::get_console_ops().write_error_stream(sink.data, sink.length);
}

void write_system_error(std::uint32_t code) noexcept {
    char text[system_text_bytes];
    char line[sizeof "iorun: " + system_text_bytes];
    detail::text_sink sink{line, sizeof line};
    sink.put("iorun: ");
    if (const std::size_t n = platform::get_console_ops().describe_os_error(code, text, sizeof text); n > 0) {
        sink.put(text, n);
    } else {
        const report_argument argument = report_argument::of_number(static_cast<long>(code));
        detail::format_text(sink, "FormatMessage failed for sysmem message number %i", {&argument, 1});
        write_line_end(sink);
    }
    platform::get_console_ops().write_error_stream(sink.data, sink.length);
}

}  // namespace

void report_message(textio::message m, std::span<const report_argument> arguments) {
    const auto number = static_cast<std::uint16_t>(m);
    const message_entry* entry = find_message(number);
    assert(entry != nullptr);
    const platform::memory_ops& memory = platform::get_memory_ops();
    const char* prefix = severity_prefix(entry->level);

    std::size_t capacity = diagnostic_buffer_bytes;
    char* buffer = static_cast<char*>(memory.allocate(capacity));
    if (buffer == nullptr) {
        capacity = std::strlen(prefix) + std::strlen(entry->text) + fallback_extra_bytes;
        buffer = static_cast<char*>(memory.allocate(capacity));
    }
    if (buffer == nullptr) {
        write_notice(number);
    } else {
        char scratch[scratch_text_bytes];
        detail::text_sink text{scratch, sizeof scratch};
        if (arguments.empty()) text.put(entry->text);
        else detail::format_text(text, entry->text, arguments);

        // The line end always fits: the text is cut first.
        detail::text_sink line{buffer, capacity - line_end_bytes};
        const report_argument n = report_argument::of_number(number);
        detail::format_text(line, prefix, {&n, 1});
        line.put(text.data, text.length);
        line.capacity = capacity;
        write_line_end(line);
        platform::get_console_ops().write_error_stream(line.data, line.length);
        memory.release(buffer);
    }
    if (entry->level == severity::severe) {
        run_closing_sweep(held_unit);
        std::exit(number);
    }
}

textio::message report_statement_failure(textio::message m, std::int32_t unit) {
    textio::connection* c = textio::find_connection(unit);
    // The name is copied out first: a connection whose open failed is
    // discarded before the diagnostic is formed.
    char name[textio::max_name_bytes + 1];
    if (c != nullptr && c->name != nullptr) {
        const std::size_t stored = static_cast<std::size_t>(c->name_length);
        const std::size_t n = std::min(stored, std::strlen(c->name));
        std::memcpy(name, c->name, n);
        name[n] = '\0';
    } else {
        std::memcpy(name, quoted_unknown_name, sizeof quoted_unknown_name);
    }
    if (c != nullptr && c->saved_error != 0) {
        write_system_error(c->saved_error);
        c->saved_error = 0;
    }
    if (c != nullptr && c->state == textio::connection_state::failed) textio::discard_failed_connection(unit);

    const report_argument arguments[] = {report_argument::of_number(unit), report_argument::of_text(name)};
    held_unit = unit;
    report_message(m, arguments);
    held_unit = 0;
    return m;
}

}  // namespace runtime
