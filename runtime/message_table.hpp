#pragma once

#include "textio/message.hpp"

#include <cstdint>

namespace runtime {

enum class severity : std::uint8_t { none = 0, info = 1, warning = 2, error = 3, severe = 4 };

struct message_entry {
    std::uint16_t number;
    severity level;
    const char* text;  // may hold "%d" (unit), "%s" (file name, event word), "%lx"/"%ld"
};

// The entry for number, or nullptr when the table has none.
[[nodiscard]] const message_entry* find_message(std::uint16_t number) noexcept;

// "iorun: severe (%i): " and its kin, by severity.
[[nodiscard]] const char* severity_prefix(severity level) noexcept;

}  // namespace runtime
