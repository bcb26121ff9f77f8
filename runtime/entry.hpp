#pragma once

namespace runtime {

using driver_routine = int (*)();

// Start-up, the driver once, shut-down. The driver's result is ignored: a
// normal run exits with 0, a failing one never comes back here.
[[nodiscard]] int run_entry(driver_routine driver) noexcept;

}  // namespace runtime
