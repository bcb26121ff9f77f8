#include "platform/console_ops.hpp"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace platform {
namespace {

void posix_write_error_stream(const char* text, std::size_t n) {
    while (n > 0) {
        const ssize_t r = ::write(STDERR_FILENO, text, n);
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        text += r;
        n -= static_cast<std::size_t>(r);
    }
}

std::size_t posix_describe_os_error(std::uint32_t code, char* buffer, std::size_t buffer_bytes) {
    // strerrordesc_np knows only real codes; strerror would invent "Unknown error N".
    const char* text = code <= 0x7fffffffu ? strerrordesc_np(static_cast<int>(code)) : nullptr;
    if (text == nullptr || buffer_bytes < 3) return 0;
    std::size_t n = std::strlen(text);
    if (n > buffer_bytes - 3) n = buffer_bytes - 3;
    std::memcpy(buffer, text, n);
    buffer[n++] = '\r';
    buffer[n++] = '\n';
    buffer[n] = '\0';
    return n;
}

constexpr console_ops posix_console_ops = {posix_write_error_stream, posix_describe_os_error};

}  // namespace

const console_ops& native_console_ops() noexcept { return posix_console_ops; }

}  // namespace platform
