#include "runtime/diagnostics.hpp"

#include "platform/console_ops.hpp"
#include "platform/memory_ops.hpp"
#include "platform/process_ops.hpp"
#include "runtime/detail/text_format.hpp"
#include "runtime/detail/traceback_switch.hpp"
#include "runtime/message_table.hpp"
#include "runtime/stack_table.hpp"
#include "runtime/startup.hpp"
#include "textio/connection.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace runtime {
namespace {

// The formatted message text: the longest text with a 256-byte name fits.
constexpr std::size_t scratch_text_bytes = 395;
constexpr std::size_t system_text_bytes = 1024;
constexpr char line_end[] = "\r\n";
constexpr std::size_t line_end_bytes = 2;
// Room for the fallback buffer beyond the prefix and text: the number, the
// line end and the terminator.
constexpr std::size_t fallback_extra_bytes = 21;
constexpr char quoted_unknown_name[] = "\"Unknown\"";

// The unit whose failing statement is being reported on this thread; the
// closing sweep leaves that connection to the operating system.
thread_local std::int32_t held_unit = 0;
// Set while this thread reports a processor exception: the heap may be
// broken, so the diagnostic goes through the buffer set aside below and the
// process ends without exit work.
thread_local bool is_reporting_fault = false;
char fault_buffer[diagnostic_buffer_bytes];

struct exception_message {
    std::uint16_t low_code;  // the low 16 bits of the exception code
    textio::message m;
};

constexpr exception_message exception_messages[] = {
    {0x0005, textio::message::access_violation},     {0x0002, textio::message::datatype_misalignment},
    {0x0003, textio::message::breakpoint},           {0x0004, textio::message::single_step},
    {0x008C, textio::message::array_bounds_exceeded}, {0x0094, textio::message::integer_divide_by_zero},
    {0x0095, textio::message::integer_overflow},     {0x0096, textio::message::privileged_instruction},
    {0x0006, textio::message::in_page_error},        {0x001D, textio::message::illegal_instruction},
    {0x0025, textio::message::noncontinuable_exception}, {0x00FD, textio::message::stack_overflow},
    {0x0026, textio::message::invalid_disposition},
};

void write_error_stream(const char* text, std::size_t n) noexcept {
    platform::get_console_ops().write_error_stream(text, n);
}

// The last resort when not even a small buffer can be had.
void write_notice(std::uint16_t number) noexcept {
    char notice[64];
    detail::text_sink sink{notice, sizeof notice};
    const report_argument argument = report_argument::of_number(number);
    detail::format_text(sink, "iorun: no storage to report message %i", {&argument, 1});
    sink.put(line_end, line_end_bytes);
    write_error_stream(sink.data, sink.length);
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
        sink.put(line_end, line_end_bytes);
    }
    write_error_stream(sink.data, sink.length);
}

// The prefix, the formatted text and a line end; then, where the severity
// asks for it and the full buffer is at hand, the call-stack table. Returns
// the length.
std::size_t form_diagnostic(char* buffer, std::size_t capacity, const message_entry& entry,
                            const detail::text_sink& text) noexcept {
    // The line end always fits: the text is cut first.
    detail::text_sink line{buffer, capacity - line_end_bytes};
    const report_argument number = report_argument::of_number(entry.number);
    detail::format_text(line, severity_prefix(entry.level), {&number, 1});
    line.put(text.data, text.length);
    line.capacity = capacity;
    line.put(line_end, line_end_bytes);

    const detail::traceback_switch* traceback = detail::find_traceback_switch();
    if (entry.level >= severity::error && traceback != nullptr && capacity == diagnostic_buffer_bytes) {
        const std::size_t room = capacity - line.length - 1 - stack_note_bytes;
        return append_stack_table(buffer, line.length, room, traceback->exception_context);
    }
    return line.length;
}

void write_diagnostic(const message_entry& entry, const detail::text_sink& text) noexcept {
    if (is_reporting_fault) {
        write_error_stream(fault_buffer, form_diagnostic(fault_buffer, sizeof fault_buffer, entry, text));
        return;
    }
    const platform::memory_ops& memory = platform::get_memory_ops();
    std::size_t capacity = diagnostic_buffer_bytes;
    char* buffer = static_cast<char*>(memory.allocate(capacity));
    if (buffer == nullptr) {
        // Sized for the text as filled in, so that the file name is whole.
        capacity = std::strlen(severity_prefix(entry.level)) + text.length + fallback_extra_bytes;
        buffer = static_cast<char*>(memory.allocate(capacity));
    }
    if (buffer == nullptr) {
        write_notice(entry.number);
        return;
    }
    write_error_stream(buffer, form_diagnostic(buffer, capacity, entry, text));
    memory.release(buffer);
}

}  // namespace

void report_message(textio::message m, std::span<const report_argument> arguments) {
    const auto number = static_cast<std::uint16_t>(m);
    const message_entry* entry = find_message(number);
    assert(entry != nullptr);
    char scratch[scratch_text_bytes];
    detail::text_sink text{scratch, sizeof scratch};
    if (arguments.empty()) text.put(entry->text);
    else detail::format_text(text, entry->text, arguments);

    // Only one thread ends the process. One that comes second still has its
    // say, then leaves its statement and waits for the end.
    const bool is_severe = entry->level == severity::severe;
    const bool owns_exit = is_severe && claim_process_exit();
    write_diagnostic(*entry, text);
    if (!is_severe) return;
    if (!owns_exit) {
        end_statement();
        platform::park_thread();
    }
    if (is_reporting_fault) {
        run_closing_sweep(held_unit, sweep_mode::handles_only);
        platform::exit_process_at_once(number);
    }
    run_closing_sweep(held_unit);
    platform::exit_process(number);
}

textio::message report_statement_failure(textio::message m, std::int32_t unit) {
    textio::connection* c = textio::find_connection(unit);
    // The name is copied out first: a connection whose open failed is
    // discarded before the diagnostic is formed.
    char name[textio::max_name_bytes + 1];
    if (c != nullptr && c->name != nullptr) {
        const std::size_t n = std::min(static_cast<std::size_t>(c->name_length), std::strlen(c->name));
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

void report_processor_exception(std::uint32_t code, const void* context) {
    is_reporting_fault = true;
    if (detail::traceback_switch* traceback = detail::find_traceback_switch(); traceback != nullptr)
        traceback->exception_context = context;
    const auto low_code = static_cast<std::uint16_t>(code & 0xffffu);
    textio::message m = textio::message::unknown_exception;
    for (const exception_message& e : exception_messages) {
        if (e.low_code == low_code) m = e.m;
    }
    const report_argument codes[] = {report_argument::of_number(low_code), report_argument::of_number(low_code)};
    report_message(m, m == textio::message::unknown_exception ? std::span<const report_argument>(codes)
                                                              : std::span<const report_argument>());
    // Every exception message is severe, so the report has ended the process.
    platform::exit_process_at_once(textio::message_number(m));
}

}  // namespace runtime
