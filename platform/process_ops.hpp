#pragma once

namespace platform {

// Through the standard exit routine: exit work runs and streams are flushed.
[[noreturn]] void exit_process(int status) noexcept;
// At once, for a process in a state where exit work may not run (a fault).
[[noreturn]] void exit_process_at_once(int status) noexcept;
// Blocks the calling thread until the process ends.
[[noreturn]] void park_thread() noexcept;

}  // namespace platform
