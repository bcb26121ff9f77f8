#include "textio/connection.hpp"

#include "platform/memory_ops.hpp"

#include <atomic>
#include <cassert>
#include <cstring>

namespace textio {
namespace {

// The program connects two units, one at a time; a few slots leave room for a
// failed open that is still waiting to be reported.
constexpr std::size_t max_connections = 4;
connection registry[max_connections];
std::atomic<bool> connections_exist{false};

struct open_failure_entry {
    platform::os_error kind;
    message result;
    bool saves_error;
};

// What an open that got no handle reports. Any kind not listed is an
// open_failure whose native code the reporter explains.
constexpr open_failure_entry open_failures[] = {
    {platform::os_error::file_not_found, message::file_not_found, false},
    {platform::os_error::path_not_found, message::file_not_found, false},
    {platform::os_error::invalid_name, message::file_name_specification_error, false},
    {platform::os_error::name_too_long, message::file_name_specification_error, false},
    {platform::os_error::already_exists, message::cannot_overwrite_existing_file, false},
    {platform::os_error::access_denied, message::permission_denied, false},
    {platform::os_error::write_protect, message::permission_denied, false},
    {platform::os_error::no_such_device, message::no_such_device, false},
    {platform::os_error::too_many_open_files, message::open_failure, false},
};

message map_open_failure(connection& c, platform::os_result failure) noexcept {
    for (const open_failure_entry& entry : open_failures) {
        if (entry.kind == failure.kind) {
            if (entry.saves_error) c.saved_error = failure.code;
            return entry.result;
        }
    }
    c.saved_error = failure.code;
    return message::open_failure;
}

bool is_blank(char ch) noexcept { return ch == ' '; }

void release_storage(connection& c) noexcept {
    const platform::memory_ops& memory = platform::get_memory_ops();
    memory.release(c.name);
    memory.release(c.buffer);
    c = connection{};
}

connection* find_slot(std::int32_t unit, connection_state state) noexcept {
    for (connection& c : registry) {
        if (c.state == state && (state == connection_state::free || c.unit == unit)) return &c;
    }
    return nullptr;
}

// Stores the full path of text (or text itself when there is none that fits)
// as the connection's name.
message store_name(connection& c, const char* text, std::size_t length) noexcept {
    char path[full_path_buffer_bytes];
    const std::size_t full = platform::get_file_ops().get_full_path(text, path, sizeof path);
    const char* chosen = text;
    if (full > 0 && full < full_path_buffer_bytes) {
        chosen = path;
        length = full;
    }
    char* name = static_cast<char*>(platform::get_memory_ops().allocate(length + 1));
    if (name == nullptr) return message::insufficient_virtual_memory;
    std::memcpy(name, chosen, length);
    name[length] = '\0';
    c.name = name;
    c.name_length = static_cast<std::int16_t>(length);
    return message::none;
}

// Opens with read and write access, falling back to read access alone where
// writing is refused or another handle allows others only to read.
platform::os_result open_file_for(connection& c) noexcept {
    const platform::file_ops& files = platform::get_file_ops();
    platform::file_handle h = platform::no_file;
    platform::os_result r =
        files.open_file(c.name, platform::file_access::read_write, platform::file_share::read, &h);
    if (!r.is_ok()) {
        if (r.kind == platform::os_error::access_denied || r.kind == platform::os_error::write_protect) {
            c.is_read_only = true;
            r = files.open_file(c.name, platform::file_access::read, platform::file_share::read, &h);
        } else if (r.kind == platform::os_error::sharing_violation) {
            r = files.open_file(c.name, platform::file_access::read, platform::file_share::read_write, &h);
            if (r.is_ok()) c.is_read_only = true;
        }
    }
    if (r.is_ok()) c.handle = h;
    return r;
}

}  // namespace

message open_connection(std::int32_t unit, const char* name, std::size_t name_length) {
    assert(find_slot(unit, connection_state::open) == nullptr);
    connection* slot = find_slot(unit, connection_state::failed);
    if (slot != nullptr) release_storage(*slot);
    slot = find_slot(unit, connection_state::free);
    assert(slot != nullptr);
    connection& c = *slot;
    c.state = connection_state::failed;
    c.unit = unit;

    if (name_length > max_name_bytes) name_length = max_name_bytes;
    std::size_t first = 0;
    while (first < name_length && is_blank(name[first])) ++first;
    std::size_t last = name_length;
    while (last > first && (is_blank(name[last - 1]) || name[last - 1] == '\0')) --last;
    char text[max_name_bytes + 1];
    std::memcpy(text, name + first, last - first);
    text[last - first] = '\0';

    if (const message m = store_name(c, text, last - first); m != message::none) return m;
    if (const platform::os_result r = open_file_for(c); !r.is_ok()) return map_open_failure(c, r);

    if (platform::get_file_ops().get_file_kind(c.handle) == platform::file_kind::disk) {
        c.is_disk_file = true;
        c.has_pending_truncation = true;
    }
    c.buffer = static_cast<char*>(platform::get_memory_ops().allocate(record_buffer_bytes));
    if (c.buffer == nullptr) {
        (void)platform::get_file_ops().close_file(c.handle);
        c.handle = platform::no_file;
        return message::insufficient_virtual_memory;
    }
    c.capacity = record_buffer_bytes;
    c.state = connection_state::open;
    connections_exist.store(true, std::memory_order_release);
    return message::none;
}

namespace {

// Closes the handle and releases the buffer. On failure the connection is
// kept, without a handle, so that the report can still name it.
message close_handle(connection& c) noexcept {
    const platform::os_result r = platform::get_file_ops().close_file(c.handle);
    c.handle = platform::no_file;
    if (!r.is_ok()) {
        c.saved_error = r.code;
        c.state = connection_state::failed;
        return message::close_error;
    }
    release_storage(c);
    return message::none;
}

}  // namespace

message close_connection(std::int32_t unit) {
    connection* c = find_slot(unit, connection_state::open);
    return c == nullptr ? message::none : close_handle(*c);
}

connection* find_connection(std::int32_t unit) noexcept {
    connection* c = find_slot(unit, connection_state::open);
    return c != nullptr ? c : find_slot(unit, connection_state::failed);
}

void discard_failed_connection(std::int32_t unit) noexcept {
    if (connection* c = find_slot(unit, connection_state::failed); c != nullptr) release_storage(*c);
}

bool take_connections_exist_mark() noexcept {
    return connections_exist.exchange(false, std::memory_order_acq_rel);
}

void close_all_connections(std::int32_t skip_unit, close_failure_handler on_failure, bool may_release) {
    for (connection& c : registry) {
        if (c.state != connection_state::open || c.unit == skip_unit) continue;
        if (!may_release) {
            if (platform::get_file_ops().close_file(c.handle).is_ok()) c.state = connection_state::free;
            c.handle = platform::no_file;
            continue;
        }
        if (const message m = close_handle(c); m != message::none) {
            if (on_failure != nullptr) on_failure(m, c);
            release_storage(c);
        }
    }
}

}  // namespace textio
