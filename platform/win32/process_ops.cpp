#include "platform/process_ops.hpp"

#include <windows.h>

#include <cstdlib>

namespace platform {

void exit_process(int status) noexcept { std::exit(status); }

// ExitProcess still runs the detach code of every DLL, the C library's among
// them, which may need a lock the faulting thread holds; TerminateProcess runs
// nothing of the process's own.
void exit_process_at_once(int status) noexcept {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ExitProcess(static_cast<UINT>(status));
}

// A write to a pipe whose reader has gone, or past a size limit, already fails
// with an error code here: no signal ends the process.
void keep_write_failures_as_errors() noexcept {}

void park_thread() noexcept {
    for (;;) Sleep(INFINITE);
}

}  // namespace platform
