#pragma once

namespace platform {

// Through the standard exit routine: exit work runs and streams are flushed.
[[noreturn]] void exit_process(int status) noexcept;
// At once, for a process in a state where exit work may not run (a fault).
[[noreturn]] void exit_process_at_once(int status) noexcept;
// A write to a closed pipe or past the file size limit then fails with an
// error the caller reports, instead of ending the process by a signal.
void keep_write_failures_as_errors() noexcept;
// Blocks the calling thread until the process ends.
[[noreturn]] void park_thread() noexcept;

}  // namespace platform
