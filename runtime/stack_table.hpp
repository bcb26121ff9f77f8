#pragma once

#include <cstddef>

namespace runtime {

// Room kept behind the table for a closing note.
constexpr std::size_t stack_note_bytes = 58;

// Appends the call-stack table at buffer[at]: a header and one row per frame,
// innermost first, from the fault under report (context) or from the caller
// (context null), using at most room bytes plus stack_note_bytes for a closing
// note. Returns the new end. Appends nothing while another table is being made:
// only one walk runs at a time. Takes no lock and allocates nothing, so it may
// run in a fault handler.
[[nodiscard]] std::size_t append_stack_table(char* buffer, std::size_t at, std::size_t room,
                                             const void* context) noexcept;

}  // namespace runtime
