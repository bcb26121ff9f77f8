#pragma once

#include <cstdint>

namespace platform {

// Processor exception codes, as the upper layers tell them apart; a backend
// translates its own faults into these.
namespace exception_code {
constexpr std::uint32_t access_violation = 0xC0000005;
constexpr std::uint32_t datatype_misalignment = 0x80000002;
constexpr std::uint32_t breakpoint = 0x80000003;
constexpr std::uint32_t single_step = 0x80000004;
constexpr std::uint32_t array_bounds_exceeded = 0xC000008C;
constexpr std::uint32_t integer_divide_by_zero = 0xC0000094;
constexpr std::uint32_t integer_overflow = 0xC0000095;
constexpr std::uint32_t privileged_instruction = 0xC0000096;
constexpr std::uint32_t in_page_error = 0xC0000006;
constexpr std::uint32_t illegal_instruction = 0xC000001D;
constexpr std::uint32_t noncontinuable_exception = 0xC0000025;
constexpr std::uint32_t stack_overflow = 0xC00000FD;
constexpr std::uint32_t invalid_disposition = 0xC0000026;
}  // namespace exception_code

// Called where the fault happened (on POSIX: in a signal handler, on an
// alternate stack), with the fault's processor context for the stack walk.
// It must not return.
using exception_filter = void (*)(std::uint32_t code, const void* context);

struct exception_ops {
    // Routes processor exceptions to filter, after preparing what handling
    // them needs (an alternate stack among others). Returns false on failure.
    bool (*install_exception_filter)(exception_filter filter);
    // Back to the platform's default handling.
    void (*remove_exception_filter)();
};

[[nodiscard]] const exception_ops& get_exception_ops() noexcept;

}  // namespace platform
