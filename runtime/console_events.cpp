#include "runtime/console_events.hpp"

#include "platform/process_ops.hpp"
#include "runtime/diagnostics.hpp"
#include "runtime/startup.hpp"

namespace runtime {
namespace {

struct event_word {
    platform::console_event event;
    const char* word;
};

constexpr event_word event_words[] = {
    {platform::console_event::control_c, "control-C"},
    {platform::console_event::control_break, "control-BREAK"},
    {platform::console_event::close, "window-CLOSE"},
};

}  // namespace

void handle_console_event(platform::console_event event) {
    const char* word = nullptr;
    for (const event_word& e : event_words) {
        if (e.event == event) word = e.word;
    }
    if (word == nullptr) return;
    const report_argument argument = report_argument::of_text(word);
    // Another thread is already ending the process: the event is only told.
    if (!claim_process_exit()) {
        report_message(textio::message::console_event_abort, {&argument, 1});
        return;
    }
    const std::int32_t held = stop_statements();
    report_message(textio::message::console_event_abort, {&argument, 1});
    run_closing_sweep(held);
    platform::exit_process(static_cast<int>(event));
}

}  // namespace runtime
