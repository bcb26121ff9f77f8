#include "runtime/entry.hpp"

namespace runtime {
int run_entry(driver_routine driver) noexcept { driver(); return 0; }
}  // namespace runtime
