#include "runtime/fp_environment.hpp"

#include "platform/fp_control.hpp"

namespace runtime {

void set_up_processor(unsigned features) noexcept {
    const platform::fp_ops& fp = platform::get_fp_ops();
    platform::fp_modes modes = fp.get_fp_modes();
    if ((features & flush_to_zero_bit) != 0) modes.flush_to_zero = true;
    if ((features & denormals_are_zero_bit) != 0 && fp.has_denormals_are_zero()) modes.denormals_are_zero = true;
    if ((features & (flush_to_zero_bit | denormals_are_zero_bit)) != 0) fp.set_fp_modes(modes);
}

void establish_fp_environment() noexcept { platform::get_fp_ops().reset_fp_environment(); }

}  // namespace runtime
