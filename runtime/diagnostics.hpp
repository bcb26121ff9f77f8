#pragma once

#include "textio/message.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace runtime {

constexpr std::size_t diagnostic_buffer_bytes = 16384;

// One argument for a message text's placeholders, in their order.
struct report_argument {
    const char* text = nullptr;  // for "%s"; nullptr means the number is used
    long number = 0;             // for "%d", "%ld", "%lx"

    [[nodiscard]] static constexpr report_argument of_number(long n) noexcept { return {nullptr, n}; }
    [[nodiscard]] static constexpr report_argument of_text(const char* t) noexcept { return {t, 0}; }
};

// Prints the diagnostic for m with its arguments on the standard error stream
// in one write. A severe message then runs the closing sweep and ends the
// process with m's number as exit status; any other returns.
void report_message(textio::message m, std::span<const report_argument> arguments = {});

// A failing statement on unit: first the system's text for the connection's
// saved error, if any, then the diagnostic filled with the unit and the stored
// name. Returns m when its severity lets the program go on.
textio::message report_statement_failure(textio::message m, std::int32_t unit);

// A processor exception, by its code, from the fault handler: the severe
// "Program Exception" diagnostic, its table starting at the faulting
// instruction of context, then the end of the process. Never returns.
[[noreturn]] void report_processor_exception(std::uint32_t code, const void* context);

}  // namespace runtime
