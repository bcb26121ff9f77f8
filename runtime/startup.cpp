#include "runtime/startup.hpp"

#include "platform/fp_control.hpp"
#include "runtime/diagnostics.hpp"
#include "textio/connection.hpp"

#include <mutex>

namespace runtime {
namespace {

std::mutex startup_lock;
bool is_initialised = false;

// A connection the sweep could not close: the direct report names it, and
// being severe it ends the process there.
void report_close_failure(textio::message m, const textio::connection& c) {
    const report_argument arguments[] = {report_argument::of_number(c.unit), report_argument::of_text(c.name)};
    report_message(m, arguments);
}

}  // namespace

void set_up_processor(unsigned features) noexcept {
    const platform::fp_ops& fp = platform::get_fp_ops();
    platform::fp_modes modes = fp.get_fp_modes();
    if ((features & flush_to_zero_bit) != 0) modes.flush_to_zero = true;
    if ((features & denormals_are_zero_bit) != 0 && fp.has_denormals_are_zero()) modes.denormals_are_zero = true;
    if ((features & (flush_to_zero_bit | denormals_are_zero_bit)) != 0) fp.set_fp_modes(modes);
}

void run_startup() noexcept {
    const std::lock_guard<std::mutex> guard(startup_lock);
    if (is_initialised) return;
    platform::get_fp_ops().reset_fp_environment();
    is_initialised = true;
}

void run_closing_sweep(std::int32_t skip_unit) noexcept {
    // Taking the mark makes a sweep started from inside this one (a close
    // failure being reported) find nothing to do.
    if (!textio::take_connections_exist_mark()) return;
    textio::close_all_connections(skip_unit, report_close_failure);
}

int run_shutdown() noexcept {
    run_closing_sweep();
    return 0;
}

}  // namespace runtime
