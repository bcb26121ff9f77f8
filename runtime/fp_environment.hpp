#pragma once

namespace runtime {

// Bits of set_up_processor's argument.
constexpr unsigned flush_to_zero_bit = 1;
constexpr unsigned denormals_are_zero_bit = 2;

// Turns on the vector unit's modes named by features; clear bits change
// nothing. Never fails: a processor without the modes stays as it is. With 0
// it only identifies the processor.
void set_up_processor(unsigned features) noexcept;

// Every floating-point exception masked, the pending flags cleared, no
// flushing of subnormals; rounding and precision as they are.
void establish_fp_environment() noexcept;

}  // namespace runtime
