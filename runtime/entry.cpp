#include "runtime/entry.hpp"

#include "platform/exception_ops.hpp"
#include "runtime/diagnostics.hpp"
#include "runtime/fp_environment.hpp"
#include "runtime/startup.hpp"

namespace runtime {

int run_entry(driver_routine driver) noexcept {
    // Start-up and the driver run guarded: a processor exception there ends
    // in its diagnostic. Shut-down is left to the platform's own handling.
    const platform::exception_ops& exceptions = platform::get_exception_ops();
    const bool is_guarded = exceptions.install_exception_filter(report_processor_exception);
    set_up_processor(0);
    run_startup();
    (void)driver();
    if (is_guarded) exceptions.remove_exception_filter();
    return run_shutdown();
}

}  // namespace runtime
