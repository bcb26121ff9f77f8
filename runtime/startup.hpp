#pragma once

#include <cstdint>

namespace runtime {

// Bits of set_up_processor's argument.
constexpr unsigned flush_to_zero_bit = 1;
constexpr unsigned denormals_are_zero_bit = 2;

// Turns on the vector unit's modes named by features; clear bits change
// nothing. Never fails: a processor without the modes stays as it is.
void set_up_processor(unsigned features) noexcept;

// Once per process: the floating-point environment (every exception masked,
// no flushing) and the I/O state. Later calls return at once.
void run_startup() noexcept;

// Closes whatever is still open. Its work is done once per process; a sweep
// started while one runs does nothing. skip_unit names a connection that the
// sweeping thread's own failing statement holds (0 for none).
void run_closing_sweep(std::int32_t skip_unit = 0) noexcept;

// The closing sweep, then the exit status of a normal run.
[[nodiscard]] int run_shutdown() noexcept;

}  // namespace runtime
