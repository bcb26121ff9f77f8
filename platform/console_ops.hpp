#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

struct console_ops {
    // One unbuffered write of the whole text to the standard error stream.
    // Failures are not reported: there is nowhere left to report them.
    void (*write_error_stream)(const char* text, std::size_t n);
    // The system's own text for a native error code, ending with CR LF, into
    // buffer. Returns its length, or 0 when the system has no text for code.
    std::size_t (*describe_os_error)(std::uint32_t code, char* buffer, std::size_t buffer_bytes);
};

[[nodiscard]] const console_ops& get_console_ops() noexcept;
[[nodiscard]] const console_ops& native_console_ops() noexcept;
void use_console_ops(const console_ops* ops) noexcept;

}  // namespace platform
