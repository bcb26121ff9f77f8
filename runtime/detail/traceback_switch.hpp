#pragma once

#include <cstdint>

namespace runtime::detail {

// While it exists, error and severe diagnostics carry a call-stack table.
// Start-up creates it; the closing sweep releases it, so reports raised during
// the sweep carry none.
struct traceback_switch {
    const void* exception_context = nullptr;  // the fault under report; the walk starts there
    std::uint32_t debugger_flags[2] = {};      // set only under a debugger
};

// Returns false when no storage can be had: the run goes on without tables.
bool create_traceback_switch() noexcept;
[[nodiscard]] traceback_switch* find_traceback_switch() noexcept;
// Detaches the switch; frees it unless the caller may not touch the heap.
void release_traceback_switch(bool may_free) noexcept;

}  // namespace runtime::detail
