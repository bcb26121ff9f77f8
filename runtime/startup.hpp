#pragma once

#include <cstdint>

namespace runtime {

// Once per process: the traceback switch, the stack walk's preparations, the
// console event handler, the floating-point environment. Later calls return
// at once.
void run_startup() noexcept;

// How the closing sweep may treat what it releases.
enum class sweep_mode : std::uint8_t {
    normal,
    // In a fault handler: handles are closed, but the heap is not touched.
    handles_only,
};

// Closes whatever is still open. Its work is done once per process; a sweep
// started while one runs does nothing. skip_unit names a connection that the
// sweeping thread's own failing statement holds (0 for none).
void run_closing_sweep(std::int32_t skip_unit = 0, sweep_mode mode = sweep_mode::normal) noexcept;

// The closing sweep, then the exit status of a normal run.
[[nodiscard]] int run_shutdown() noexcept;

// Only one thread may end the process. The first to claim the exit owns it
// (and may claim it again); every other claim fails, and that thread must not
// write or exit any more.
[[nodiscard]] bool claim_process_exit() noexcept;

// Brackets one statement of the driver. A statement that starts once the
// process is stopping never runs: its thread is parked until the process ends.
class statement_guard {
public:
    explicit statement_guard(std::int32_t unit) noexcept;
    ~statement_guard();
    statement_guard(const statement_guard&) = delete;
    statement_guard& operator=(const statement_guard&) = delete;
};

// Ends the statement on the calling thread early, before that thread parks.
void end_statement() noexcept;

// Keeps every later statement from starting, and waits (for a bounded time)
// for the one running to end. Returns the unit of a statement still running
// after the wait, or 0.
[[nodiscard]] std::int32_t stop_statements() noexcept;

}  // namespace runtime
