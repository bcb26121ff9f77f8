#include "platform/console_ops.hpp"

#include "platform/posix/fault_context.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
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

struct event_signal {
    int signal;
    console_event event;
};

// Control-C, control-break (the terminal's quit key) and the terminal going away.
constexpr event_signal event_signals[] = {
    {SIGINT, console_event::control_c},
    {SIGQUIT, console_event::control_break},
    {SIGHUP, console_event::close},
};

console_event_handler event_handler = nullptr;
sigset_t caught_signals;

// A signal that the program was started with ignored (nohup's SIGHUP) stays
// ignored: that was the caller's choice.
sigset_t signals_to_catch() {
    sigset_t set;
    sigemptyset(&set);
    for (const event_signal& e : event_signals) {
        struct sigaction current{};
        if (::sigaction(e.signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&set, e.signal);
    }
    return set;
}

// The signals stay blocked in every thread, so they wait here to be taken
// one at a time; the handler runs as ordinary code, free to lock and exit.
void* wait_for_console_events(void*) {
    (void)posix::install_alternate_stack();
    for (;;) {
        int signal = 0;
        if (sigwait(&caught_signals, &signal) != 0) continue;
        for (const event_signal& e : event_signals) {
            if (e.signal == signal) event_handler(e.event);
        }
    }
}

bool posix_start_console_events(console_event_handler handler) {
    event_handler = handler;
    caught_signals = signals_to_catch();
    if (sigisemptyset(&caught_signals)) return true;
    const sigset_t& set = caught_signals;
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return false;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int r = pthread_create(&thread, &attributes, wait_for_console_events, nullptr);
    pthread_attr_destroy(&attributes);
    if (r != 0) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return false;
    }
    return true;
}

constexpr console_ops posix_console_ops = {posix_write_error_stream, posix_describe_os_error,
                                           posix_start_console_events};

}  // namespace

const console_ops& native_console_ops() noexcept { return posix_console_ops; }

}  // namespace platform
