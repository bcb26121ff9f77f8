#include "runtime/startup.hpp"

#include "platform/console_ops.hpp"
#include "platform/process_ops.hpp"
#include "platform/stack_ops.hpp"
#include "runtime/console_events.hpp"
#include "runtime/detail/traceback_switch.hpp"
#include "runtime/diagnostics.hpp"
#include "runtime/fp_environment.hpp"
#include "textio/connection.hpp"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace runtime {
namespace {

std::mutex startup_lock;
bool is_initialised = false;

std::atomic<bool> is_exit_claimed{false};
thread_local bool owns_exit = false;

// What stands for the shut-down's own sweep in the statement mark.
constexpr std::int32_t sweep_unit = -1;
std::atomic<bool> is_stopping{false};
std::atomic<std::int32_t> running_statement_unit{0};

// A statement is one record read or written, so it ends quickly unless the
// file itself blocks (a pipe nobody writes to).
constexpr auto statement_wait = std::chrono::seconds(2);
constexpr auto statement_poll = std::chrono::milliseconds(1);

// A connection the sweep could not close: the direct report names it, and
// being severe it ends the process there.
void report_close_failure(textio::message m, const textio::connection& c) {
    const report_argument arguments[] = {report_argument::of_number(c.unit), report_argument::of_text(c.name)};
    report_message(m, arguments);
}

}  // namespace

void run_startup() noexcept {
    const std::lock_guard<std::mutex> guard(startup_lock);
    if (is_initialised) return;
    if (detail::create_traceback_switch()) (void)platform::get_stack_ops().prepare_stack_walk();
    (void)platform::get_console_ops().start_console_events(handle_console_event);
    platform::keep_write_failures_as_errors();
    establish_fp_environment();
    is_initialised = true;
}

void run_closing_sweep(std::int32_t skip_unit, sweep_mode mode) noexcept {
    detail::release_traceback_switch(mode == sweep_mode::normal);
    // Taking the mark makes a sweep started from inside this one (a close
    // failure being reported) find nothing to do.
    if (!textio::take_connections_exist_mark()) return;
    textio::close_all_connections(skip_unit, report_close_failure, mode == sweep_mode::normal);
}

int run_shutdown() noexcept {
    {
        const statement_guard guard(sweep_unit);
        run_closing_sweep();
    }
    if (!claim_process_exit()) platform::park_thread();
    return 0;
}

bool claim_process_exit() noexcept {
    if (owns_exit) return true;
    bool expected = false;
    owns_exit = is_exit_claimed.compare_exchange_strong(expected, true, std::memory_order_acq_rel);
    return owns_exit;
}

statement_guard::statement_guard(std::int32_t unit) noexcept {
    // Sequentially consistent on both sides: either this statement sees the
    // stop, or the stopping thread sees this statement running.
    running_statement_unit.store(unit, std::memory_order_seq_cst);
    if (is_stopping.load(std::memory_order_seq_cst)) {
        end_statement();
        platform::park_thread();
    }
}

statement_guard::~statement_guard() { end_statement(); }

void end_statement() noexcept { running_statement_unit.store(0, std::memory_order_seq_cst); }

std::int32_t stop_statements() noexcept {
    is_stopping.store(true, std::memory_order_seq_cst);
    const auto deadline = std::chrono::steady_clock::now() + statement_wait;
    while (running_statement_unit.load(std::memory_order_seq_cst) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) return running_statement_unit.load();
        std::this_thread::sleep_for(statement_poll);
    }
    return 0;
}

}  // namespace runtime
