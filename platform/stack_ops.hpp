#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

struct stack_ops {
    // Gathers at start-up what walking needs later (the loaded modules, the
    // unwinder), so that a walk may run in a signal handler. False: no walks.
    bool (*prepare_stack_walk)();
    // Program counters, innermost first: from the faulting instruction when
    // context is a fault's context, else from the caller. Returns how many
    // were stored, or -1 when no walk can be made.
    int (*walk_stack)(const void* context, std::uintptr_t* pcs, int max_frames);
    // The file name (no folder) of the module holding pc into module (empty
    // when none), and pc as the table shows it: relative to the module's load
    // address on 64-bit builds, the address itself on 32-bit ones.
    std::uint32_t (*describe_pc)(std::uintptr_t pc, char* module, std::size_t module_bytes);
};

[[nodiscard]] const stack_ops& get_stack_ops() noexcept;
void use_stack_ops(const stack_ops* ops) noexcept;
[[nodiscard]] const stack_ops& native_stack_ops() noexcept;

}  // namespace platform
