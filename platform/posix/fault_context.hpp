#pragma once

#include <cstdint>

namespace platform::posix {

// Registers of a fault's processor context (the signal handler's ucontext).
[[nodiscard]] std::uintptr_t fault_program_counter(const void* context) noexcept;
[[nodiscard]] std::uintptr_t fault_stack_pointer(const void* context) noexcept;

}  // namespace platform::posix
