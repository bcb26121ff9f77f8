#pragma once

#include <cstdint>

namespace platform::posix {

// Registers of a fault's processor context (the signal handler's ucontext).
[[nodiscard]] std::uintptr_t fault_program_counter(const void* context) noexcept;
[[nodiscard]] std::uintptr_t fault_stack_pointer(const void* context) noexcept;

// Gives the calling thread an alternate stack for fault handlers, so that a
// stack overflow can still be reported. Returns false if none can be had.
bool install_alternate_stack() noexcept;

}  // namespace platform::posix
