#pragma once

#include "platform/console_ops.hpp"

namespace runtime {

// Control-C, control-break or the console going away: message 200 with the
// event's word, the closing sweep once the running statement has ended, and
// the event code as exit status. Runs on the console-event thread while the
// driver's thread may be mid-statement; takes no lock the driver may hold.
void handle_console_event(platform::console_event event);

}  // namespace runtime
