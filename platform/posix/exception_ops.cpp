#include "platform/exception_ops.hpp"

#include "platform/posix/fault_context.hpp"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <ucontext.h>

namespace platform {
namespace {

// Room for the report: formatting, the stack walk and the 16 KiB buffer's
// neighbours, with a wide margin.
constexpr std::size_t alternate_stack_bytes = 256 * 1024;
// A fault this close below the stack pointer is the stack running out.
constexpr std::uintptr_t stack_overflow_reach_bytes = 64 * 1024;
constexpr std::uintptr_t stack_overflow_slack_bytes = 4096;
constexpr std::uint32_t other_exception_base = 0xE0000000;

constexpr int fault_signals[] = {SIGSEGV, SIGBUS, SIGTRAP, SIGILL, SIGFPE};
constexpr std::size_t fault_signal_count = sizeof fault_signals / sizeof fault_signals[0];

exception_filter active_filter = nullptr;
struct sigaction previous_actions[fault_signal_count];
thread_local bool has_alternate_stack = false;

struct fault_class {
    int signal;
    int code;  // si_code; 0 matches any
    std::uint32_t exception;
};

// Checked in order; the first row that matches decides.
constexpr fault_class fault_classes[] = {
    {SIGBUS, BUS_ADRALN, exception_code::datatype_misalignment},
    {SIGBUS, 0, exception_code::in_page_error},
    {SIGTRAP, TRAP_TRACE, exception_code::single_step},
    {SIGTRAP, 0, exception_code::breakpoint},
    {SIGILL, ILL_PRVOPC, exception_code::privileged_instruction},
    {SIGILL, ILL_PRVREG, exception_code::privileged_instruction},
    {SIGILL, 0, exception_code::illegal_instruction},
    {SIGFPE, FPE_INTDIV, exception_code::integer_divide_by_zero},
    {SIGFPE, FPE_INTOVF, exception_code::integer_overflow},
    {SIGFPE, FPE_FLTSUB, exception_code::array_bounds_exceeded},
    {SIGFPE, FPE_FLTDIV, 0xC000008E},
    {SIGFPE, FPE_FLTRES, 0xC000008F},
    {SIGFPE, FPE_FLTINV, 0xC0000090},
    {SIGFPE, FPE_FLTOVF, 0xC0000091},
    {SIGFPE, FPE_FLTUND, 0xC0000093},
    {SIGSEGV, 0, exception_code::access_violation},
};

// x86 reports a privileged instruction as a general protection fault, which
// arrives as SIGSEGV from the kernel; the opcode tells it from a bad address.
bool is_privileged_instruction(const unsigned char* pc) noexcept {
#if defined(__x86_64__) || defined(__i386__)
    if (pc == nullptr) return false;
    switch (pc[0]) {
    case 0xF4:  // hlt
    case 0xFA:  // cli
    case 0xFB:  // sti
    case 0xE4: case 0xE5: case 0xE6: case 0xE7:  // in, out with an immediate port
    case 0xEC: case 0xED: case 0xEE: case 0xEF:  // in, out through dx
        return true;
    case 0x0F:
        switch (pc[1]) {
        case 0x01:  // lgdt, lidt, lmsw and their kin
        case 0x06:  // clts
        case 0x08:  // invd
        case 0x09:  // wbinvd
        case 0x20: case 0x22:  // mov to or from a control register
        case 0x21: case 0x23:  // mov to or from a debug register
        case 0x30: case 0x32:  // wrmsr, rdmsr
            return true;
        default:
            return false;
        }
    default:
        return false;
    }
#else
    (void)pc;
    return false;
#endif
}

std::uint32_t classify_fault(int signal, const siginfo_t* info, const ucontext_t* uc) noexcept {
    if (signal == SIGSEGV) {
        const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
        const std::uintptr_t sp = posix::fault_stack_pointer(uc);
        if (sp != 0 && address != 0 && address + stack_overflow_reach_bytes >= sp &&
            address <= sp + stack_overflow_slack_bytes) {
            return exception_code::stack_overflow;
        }
        const auto* pc = reinterpret_cast<const unsigned char*>(posix::fault_program_counter(uc));
        if (info->si_code == SI_KERNEL && is_privileged_instruction(pc)) return exception_code::privileged_instruction;
    }
    for (const fault_class& c : fault_classes) {
        if (c.signal == signal && (c.code == 0 || c.code == info->si_code)) return c.exception;
    }
    return other_exception_base | static_cast<std::uint32_t>(signal);
}

// The alignment-check flag of the faulting code stays set in the handler,
// where the C library's unaligned copies would fault again.
void clear_alignment_check() noexcept {
#if defined(__x86_64__)
    asm volatile("pushfq\n\tandq $~0x40000, (%%rsp)\n\tpopfq" ::: "memory", "cc");
#elif defined(__i386__)
    asm volatile("pushfl\n\tandl $~0x40000, (%%esp)\n\tpopfl" ::: "memory", "cc");
#endif
}

void on_fault(int signal, siginfo_t* info, void* context) {
    clear_alignment_check();
    const auto* uc = static_cast<const ucontext_t*>(context);
    active_filter(classify_fault(signal, info, uc), context);
    // A filter that comes back leaves the fault to the default action: the
    // instruction runs again and the process ends by the signal.
    ::signal(signal, SIG_DFL);
}

bool posix_install_exception_filter(exception_filter filter) {
    if (!posix::install_alternate_stack()) return false;
    active_filter = filter;
    struct sigaction action{};
    action.sa_sigaction = on_fault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < fault_signal_count; ++i) ::sigaction(fault_signals[i], &action, &previous_actions[i]);
    return true;
}

void posix_remove_exception_filter() {
    for (std::size_t i = 0; i < fault_signal_count; ++i) ::sigaction(fault_signals[i], &previous_actions[i], nullptr);
}

constexpr exception_ops posix_exception_ops = {posix_install_exception_filter, posix_remove_exception_filter};

}  // namespace

namespace posix {

bool install_alternate_stack() noexcept {
    if (has_alternate_stack) return true;
    void* stack = ::mmap(nullptr, alternate_stack_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (stack == MAP_FAILED) return false;
    stack_t s{};
    s.ss_sp = stack;
    s.ss_size = alternate_stack_bytes;
    if (::sigaltstack(&s, nullptr) != 0) {
        ::munmap(stack, alternate_stack_bytes);
        return false;
    }
    has_alternate_stack = true;
    return true;
}

std::uintptr_t fault_program_counter(const void* context) noexcept {
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

std::uintptr_t fault_stack_pointer(const void* context) noexcept {
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
#elif defined(__i386__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_ESP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.sp);
#else
    (void)uc;
    return 0;
#endif
}

}  // namespace posix

const exception_ops& get_exception_ops() noexcept { return posix_exception_ops; }

}  // namespace platform
