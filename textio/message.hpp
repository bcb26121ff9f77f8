#pragma once

#include <cstdint>

namespace textio {

// Every failure the program can report, valued by the number it prints and
// exits with. The texts live in the runtime's message table.
enum class message : std::uint16_t {
    none = 0,
    permission_denied = 9,
    cannot_overwrite_existing_file = 10,
    end_of_file_during_read = 24,
    close_error = 28,
    file_not_found = 29,
    open_failure = 30,
    error_during_write = 38,
    error_during_read = 39,
    insufficient_virtual_memory = 41,
    no_such_device = 42,
    file_name_specification_error = 43,
    write_to_read_only_file = 47,
    list_directed_syntax_error = 59,
    output_conversion_error = 63,
    input_conversion_error = 64,
    output_statement_overflows_record = 66,
    cannot_allocate_file_buffer = 98,
    array_size_overflow = 179,
    console_event_abort = 200,
    access_violation = 157,
    datatype_misalignment = 158,
    breakpoint = 159,
    single_step = 160,
    array_bounds_exceeded = 161,
    integer_divide_by_zero = 164,
    integer_overflow = 165,
    privileged_instruction = 166,
    in_page_error = 167,
    illegal_instruction = 168,
    noncontinuable_exception = 169,
    stack_overflow = 170,
    invalid_disposition = 171,
    unknown_exception = 172,
};

[[nodiscard]] constexpr int message_number(message m) noexcept { return static_cast<int>(m); }

}  // namespace textio
