#include "platform/console_ops.hpp"

#include "platform/process_ops.hpp"

#include <windows.h>

namespace platform {
namespace {

void win32_write_error_stream(const char* text, std::size_t n) {
    const HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    while (n > 0) {
        DWORD wrote = 0;
        const DWORD piece = n > MAXDWORD ? MAXDWORD : static_cast<DWORD>(n);
        if (!WriteFile(h, text, piece, &wrote, nullptr) || wrote == 0) return;
        text += wrote;
        n -= wrote;
    }
}

// The system's texts end with CR LF already; inserts are left as they stand,
// since nothing here can fill them.
std::size_t win32_describe_os_error(std::uint32_t code, char* buffer, std::size_t buffer_bytes) {
    if (buffer_bytes == 0) return 0;
    const DWORD bytes = buffer_bytes > MAXDWORD ? MAXDWORD : static_cast<DWORD>(buffer_bytes);
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, bytes, nullptr);
    return n;
}

console_event_handler event_handler = nullptr;

struct event_code {
    DWORD code;
    console_event event;
};

constexpr event_code event_codes[] = {
    {CTRL_C_EVENT, console_event::control_c},
    {CTRL_BREAK_EVENT, console_event::control_break},
    {CTRL_CLOSE_EVENT, console_event::close},
};

// The system calls this on a thread it creates for the event. Any other event
// (log-off, shut-down) goes on to the next handler and the system's default.
BOOL WINAPI on_console_event(DWORD code) {
    for (const event_code& e : event_codes) {
        if (e.code == code) {
            event_handler(e.event);
            // The handler comes back only when another thread is ending the
            // process. Returning now would let the system end it at once for
            // a close event, cutting that exit short: wait for it instead.
            park_thread();
        }
    }
    return FALSE;
}

bool win32_start_console_events(console_event_handler handler) {
    event_handler = handler;
    return SetConsoleCtrlHandler(on_console_event, TRUE) != FALSE;
}

constexpr console_ops win32_console_ops = {win32_write_error_stream, win32_describe_os_error,
                                           win32_start_console_events};

}  // namespace

const console_ops& native_console_ops() noexcept { return win32_console_ops; }

}  // namespace platform
