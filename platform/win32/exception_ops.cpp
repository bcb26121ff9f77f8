#include "platform/exception_ops.hpp"

#include <windows.h>

#include <atomic>

namespace platform {
namespace {

// Room for the report on its own stack: formatting, the stack walk and the
// walk service's own frames, with a wide margin.
constexpr SIZE_T report_stack_bytes = 256 * 1024;

exception_filter active_filter = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER previous_filter = nullptr;
bool is_installed = false;

// A stack overflow leaves its thread about one page of stack, too little for
// a report: that report runs on a fiber of its own, made in advance. The
// fiber keeps the thread, so everything the report finds per thread (the
// exit claim, the statement it holds) is the faulting thread's.
LPVOID report_fiber = nullptr;
std::atomic<DWORD> reporting_thread{0};
DWORD pending_code = 0;
const CONTEXT* pending_context = nullptr;

bool is_floating_point_exception(DWORD code) noexcept {
    switch (code) {
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
        return true;
    default:
        return false;
    }
}

[[noreturn]] void run_filter(DWORD code, const CONTEXT* context) {
    active_filter(static_cast<std::uint32_t>(code), context);
    // The filter ends the process; one that comes back leaves nothing to go on with.
    TerminateProcess(GetCurrentProcess(), code);
    ExitProcess(code);
}

void WINAPI run_pending_report(LPVOID) { run_filter(pending_code, pending_context); }

LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* pointers) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    // The C library's filter turns floating-point exceptions into its signal;
    // it has the first word on those.
    if (is_floating_point_exception(code) && previous_filter != nullptr) {
        const LONG verdict = previous_filter(pointers);
        if (verdict == EXCEPTION_CONTINUE_EXECUTION) return verdict;
    }
    const DWORD self = GetCurrentThreadId();
    DWORD idle = 0;
    if (!reporting_thread.compare_exchange_strong(idle, self)) {
        // A fault inside the report itself: nothing is left to report with.
        if (idle == self) TerminateProcess(GetCurrentProcess(), code);
        // Another thread's report is ending the process.
        for (;;) Sleep(INFINITE);
    }
    if (code == EXCEPTION_STACK_OVERFLOW && report_fiber != nullptr) {
        pending_code = code;
        pending_context = pointers->ContextRecord;
        if (ConvertThreadToFiber(nullptr) != nullptr || GetLastError() == ERROR_ALREADY_FIBER)
            SwitchToFiber(report_fiber);
    }
    run_filter(code, pointers->ContextRecord);
}

bool win32_install_exception_filter(exception_filter filter) {
    if (report_fiber == nullptr) report_fiber = CreateFiber(report_stack_bytes, run_pending_report, nullptr);
    active_filter = filter;
    const LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(on_unhandled_exception);
    if (!is_installed) previous_filter = previous;
    is_installed = true;
    return true;
}

void win32_remove_exception_filter() {
    if (!is_installed) return;
    SetUnhandledExceptionFilter(previous_filter);
    is_installed = false;
}

constexpr exception_ops win32_exception_ops = {win32_install_exception_filter, win32_remove_exception_filter};

}  // namespace

const exception_ops& get_exception_ops() noexcept { return win32_exception_ops; }

}  // namespace platform
