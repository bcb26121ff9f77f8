#include "runtime/entry.hpp"

#include "runtime/startup.hpp"

namespace runtime {

int run_entry(driver_routine driver) noexcept {
    set_up_processor(0);
    run_startup();
    (void)driver();
    return run_shutdown();
}

}  // namespace runtime
