#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The console events the program acts on, valued by their console codes.
enum class console_event : int { control_c = 0, control_break = 1, close = 2 };
using console_event_handler = void (*)(console_event event);

struct console_ops {
    // One unbuffered write of the whole text to the standard error stream.
    // Failures are not reported: there is nowhere left to report them.
    void (*write_error_stream)(const char* text, std::size_t n);
    // The system's own text for a native error code, ending with CR LF, into
    // buffer. Returns its length, or 0 when the system has no text for code.
    std::size_t (*describe_os_error)(std::uint32_t code, char* buffer, std::size_t buffer_bytes);
    // From now on, each console event goes to handler on a thread of its own,
    // never inside a signal handler; every other event keeps its default.
    // Call before any other thread starts. Returns false if events cannot be
    // caught (they then keep their default).
    bool (*start_console_events)(console_event_handler handler);
};

[[nodiscard]] const console_ops& get_console_ops() noexcept;
[[nodiscard]] const console_ops& native_console_ops() noexcept;
void use_console_ops(const console_ops* ops) noexcept;

}  // namespace platform
