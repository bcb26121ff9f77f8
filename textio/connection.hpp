#pragma once

#include "platform/file_ops.hpp"
#include "textio/message.hpp"

#include <cstddef>
#include <cstdint>

namespace textio {

constexpr std::int32_t input_unit = 10;
constexpr std::int32_t output_unit = 20;

// Longest stored name; GetFullPathName-style results of this size or more
// leave the name as the statement gave it.
constexpr std::size_t max_name_bytes = 256;
constexpr std::size_t full_path_buffer_bytes = 257;
constexpr std::size_t record_buffer_bytes = 8192;
// The default record length of 132, plus room for the terminator.
constexpr std::size_t record_area_bytes = 134;

// failed: the open or the close went wrong; the connection has no handle and is
// kept only until the report has named it.
enum class connection_state : std::uint8_t { free, open, failed };

// One open text file bound to a unit number. Owns its stored name, its record
// buffer and its handle; all three go at close.
struct connection {
    connection_state state = connection_state::free;
    std::int32_t unit = 0;
    char* name = nullptr;  // stored name, NUL-terminated for convenience
    std::int16_t name_length = 0;
    platform::file_handle handle = platform::no_file;
    bool is_read_only = false;
    bool is_disk_file = false;
    bool has_pending_truncation = false;
    char* buffer = nullptr;  // record buffer
    std::size_t capacity = 0;
    std::size_t ahead_start = 0;  // read-ahead, inside buffer
    std::size_t ahead_length = 0;
    std::size_t record_start = 0;  // current record, inside buffer
    std::size_t record_length = 0;
    std::size_t area_length = record_area_bytes;  // record area for writing
    std::uint32_t saved_error = 0;  // native code for the reporter to explain, 0 for none
};

// Opens or creates the named file (name_length bytes, not terminated) for
// reading and writing, falling back to reading alone when writing is refused.
// On failure the connection stays findable, in state failed, until the
// reporter has shown its name and calls discard_failed_connection.
[[nodiscard]] message open_connection(std::int32_t unit, const char* name, std::size_t name_length);
// A unit with no connection is no error.
[[nodiscard]] message close_connection(std::int32_t unit);
[[nodiscard]] connection* find_connection(std::int32_t unit) noexcept;
void discard_failed_connection(std::int32_t unit) noexcept;

// Whether any connection has been opened since the last sweep took the mark.
[[nodiscard]] bool take_connections_exist_mark() noexcept;

// Closes every open connection except the one in skip_unit (pass 0 for none).
// Each close failure goes to on_failure with its connection, before the
// connection is released. With may_release false only the handles are
// closed, failures go unreported and the heap is left alone: the process is
// ending in a fault.
using close_failure_handler = void (*)(message m, const connection& c);
void close_all_connections(std::int32_t skip_unit, close_failure_handler on_failure, bool may_release = true);

}  // namespace textio
