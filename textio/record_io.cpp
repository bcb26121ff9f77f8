#include "textio/record_io.hpp"

#include "platform/memory_ops.hpp"

#include <algorithm>
#include <cstring>

namespace textio {
namespace {

constexpr char line_feed = '\n';
constexpr char carriage_return = '\r';
constexpr char end_of_file_byte = 0x1a;
constexpr std::size_t terminator_room_bytes = 4;
constexpr std::size_t terminator_growth_bytes = 512;
constexpr std::size_t area_growth_bytes = 512;

bool grow_buffer(connection& c, std::size_t capacity) noexcept {
    void* grown = platform::get_memory_ops().reallocate(c.buffer, capacity);
    if (grown == nullptr) return false;
    c.buffer = static_cast<char*>(grown);
    c.capacity = capacity;
    return true;
}

// Reads up to n bytes at dest in pieces of at most max_transfer_bytes, until n
// are in or a piece comes back short.
platform::os_result fill(connection& c, char* dest, std::size_t n, std::size_t* got) noexcept {
    const platform::file_ops& files = platform::get_file_ops();
    std::size_t total = 0;
    platform::os_result r = platform::os_ok;
    while (total < n) {
        const std::size_t piece = std::min(n - total, max_transfer_bytes);
        std::size_t piece_got = 0;
        r = files.read_file(c.handle, dest + total, piece, &piece_got);
        if (!r.is_ok()) break;
        total += piece_got;
        if (piece_got < piece) break;
    }
    *got = total;
    return r;
}

message finish_record(connection& c, std::size_t start, std::size_t length) noexcept {
    while (length > 0 && c.buffer[start + length - 1] == carriage_return) --length;
    c.record_start = start;
    c.record_length = length;
    if (length == 1 && c.buffer[start] == end_of_file_byte) return message::end_of_file_during_read;
    return message::none;
}

}  // namespace

message read_record(connection& c) {
    if (c.ahead_length > 0) {
        const char* begin = c.buffer + c.ahead_start;
        if (const void* lf = std::memchr(begin, line_feed, c.ahead_length); lf != nullptr) {
            const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - begin);
            const std::size_t start = c.ahead_start;
            c.ahead_start += length + 1;
            c.ahead_length -= length + 1;
            return finish_record(c, start, length);
        }
    }
    // What is left is the start of an incomplete line: move it to the front
    // and read the rest of the line behind it.
    std::size_t used = c.ahead_length;
    std::memmove(c.buffer, c.buffer + c.ahead_start, used);
    c.ahead_start = 0;
    c.ahead_length = 0;
    for (;;) {
        const std::size_t room = c.capacity - used;
        std::size_t got = 0;
        const platform::os_result r = fill(c, c.buffer + used, room, &got);
        if (!r.is_ok()) {
            if (r.kind == platform::os_error::end_of_file) return message::end_of_file_during_read;
            c.saved_error = r.code;
            return message::error_during_read;
        }
        if (got == 0) {
            if (used == 0) return message::end_of_file_during_read;
            return finish_record(c, 0, used);
        }
        // A short read of a disk file is its end: a last line without LF is
        // a record all the same. A pipe may deliver any amount at a time, so
        // there only an empty read tells the end.
        std::size_t filled = used + got;
        if (got < room && c.is_disk_file && c.buffer[filled - 1] != line_feed) c.buffer[filled++] = line_feed;
        if (const void* lf = std::memchr(c.buffer + used, line_feed, filled - used); lf != nullptr) {
            const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - c.buffer);
            c.ahead_start = length + 1;
            c.ahead_length = filled - c.ahead_start;
            return finish_record(c, 0, length);
        }
        used = filled;
        if (used == c.capacity && !grow_buffer(c, c.capacity * 2)) return message::cannot_allocate_file_buffer;
    }
}

message grow_record_area(connection& c, std::size_t used, std::size_t shortfall) {
    const std::size_t growth = std::max({shortfall, area_growth_bytes, c.area_length / 8});
    const std::size_t area = c.area_length + growth;
    if (area > c.capacity && !grow_buffer(c, c.capacity + growth)) return message::output_statement_overflows_record;
    std::memset(c.buffer + used, ' ', area - used);
    c.area_length = area;
    return message::none;
}

message write_record(connection& c, std::size_t length) {
    if (c.capacity - length < terminator_room_bytes && !grow_buffer(c, c.capacity + terminator_growth_bytes) &&
        !grow_buffer(c, c.capacity + terminator_room_bytes)) {
        return message::output_statement_overflows_record;
    }
    c.buffer[length] = carriage_return;
    c.buffer[length + 1] = line_feed;
    const platform::file_ops& files = platform::get_file_ops();
    const std::size_t total = length + 2;
    for (std::size_t done = 0; done < total;) {
        const std::size_t piece = std::min(total - done, max_transfer_bytes);
        std::size_t written = 0;
        if (const platform::os_result r = files.write_file(c.handle, c.buffer + done, piece, &written); !r.is_ok()) {
            c.saved_error = r.code;
            return message::error_during_write;
        }
        done += piece;
    }
    if (c.has_pending_truncation) {
        c.has_pending_truncation = false;
        if (const platform::os_result r = files.set_end_of_file(c.handle); !r.is_ok()) {
            c.saved_error = r.code;
            return message::error_during_write;
        }
    }
    return message::none;
}

}  // namespace textio
