#include "platform/process_ops.hpp"

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace platform {

void exit_process(int status) noexcept { std::exit(status); }

void exit_process_at_once(int status) noexcept { ::_exit(status); }

void keep_write_failures_as_errors() noexcept {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

void park_thread() noexcept {
    for (;;) ::pause();
}

}  // namespace platform
