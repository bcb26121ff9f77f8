#pragma once

namespace platform {

// The vector unit's floating-point modes. Where the processor has no such
// modes, the calls change nothing and report the modes as off.
struct fp_modes {
    bool flush_to_zero = false;
    bool denormals_are_zero = false;
};

struct fp_ops {
    // Masks every floating-point exception, clears the pending flags and turns
    // both flushing modes off. Rounding is left as it is.
    void (*reset_fp_environment)();
    bool (*has_denormals_are_zero)();
    fp_modes (*get_fp_modes)();
    void (*set_fp_modes)(fp_modes modes);
};

[[nodiscard]] const fp_ops& get_fp_ops() noexcept;

}  // namespace platform
