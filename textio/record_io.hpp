#pragma once

#include "textio/connection.hpp"
#include "textio/message.hpp"

#include <cstddef>

namespace textio {

// Largest piece any single read or write call moves.
constexpr std::size_t max_transfer_bytes = 131072;

// Makes the next record of the file the current record (without its LF and
// trailing CRs). Returns none, end_of_file_during_read, error_during_read or
// cannot_allocate_file_buffer. The record stays valid until the next call.
[[nodiscard]] message read_record(connection& c);
[[nodiscard]] inline const char* record_text(const connection& c) noexcept { return c.buffer + c.record_start; }
[[nodiscard]] inline std::size_t record_length(const connection& c) noexcept { return c.record_length; }

// write_to_read_only_file when the open could only get read access.
[[nodiscard]] inline message check_writable(const connection& c) noexcept {
    return c.is_read_only ? message::write_to_read_only_file : message::none;
}
// The area the writer lays a record out in: c.buffer, c.area_length bytes.
// Grows it by at least shortfall bytes; the new part, from used on, is blanks.
[[nodiscard]] message grow_record_area(connection& c, std::size_t used, std::size_t shortfall);
// Writes the first length bytes of the record area, then CR LF, with one write;
// the first record written to a disk file cuts it right after that record.
[[nodiscard]] message write_record(connection& c, std::size_t length);

}  // namespace textio
