#include "platform/process_ops.hpp"

#include <cstdlib>
#include <unistd.h>

namespace platform {

void exit_process(int status) noexcept { std::exit(status); }

void exit_process_at_once(int status) noexcept { ::_exit(status); }

void park_thread() noexcept {
    for (;;) ::pause();
}

}  // namespace platform
