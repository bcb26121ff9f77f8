#include "textio/edit_writer.hpp"

#include "textio/binary_to_decimal.hpp"
#include "textio/connection.hpp"
#include "textio/record_io.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

namespace textio {
namespace {

// Where the interpreter stands in the program and in the record.
struct layout_state {
    format_program program;
    std::size_t offset = 0;
    format_entry descriptor{};
    std::uint32_t repeats_left = 0;
    std::size_t column = 0;
    std::size_t high_water = 0;
};

bool is_data_descriptor(format_code code) noexcept {
    return code == format_code::a_edit || code == format_code::e_edit;
}

// The record starts out blank. Only columns that no field covers need the
// blanks, and this program's fields follow each other without a gap, so the
// blanks are laid where a field starts beyond the high-water column.
void start_record(layout_state& s) noexcept {
    s.column = 0;
    s.high_water = 0;
}

// Moves to the next data descriptor. Reaching the program's end while items
// remain writes the record and starts again from the program's start.
message fetch_descriptor(connection& c, layout_state& s) {
    for (;;) {
        std::size_t next = 0;
        const format_entry entry = decode_format_entry(s.program, s.offset, &next);
        if (entry.code == format_code::program_end) {
            if (const message m = write_record(c, s.high_water); m != message::none) return m;
            start_record(s);
            s.offset = 0;
            continue;
        }
        s.offset = next;
        if (is_data_descriptor(entry.code)) {
            s.descriptor = entry;
            s.repeats_left = entry.repeat;
            return message::none;
        }
    }
}

message place_item(connection& c, layout_state& s, const write_item& item) {
    if (s.repeats_left == 0) {
        if (const message m = fetch_descriptor(c, s); m != message::none) return m;
    }
    --s.repeats_left;
    const format_entry& d = s.descriptor;
    const std::size_t width = d.width == 0 ? item.length : d.width;
    if (s.column + width > c.area_length) {
        const message m = grow_record_area(c, s.high_water, s.column + width - c.area_length);
        if (m != message::none) return m;
    }
    if (s.column > s.high_water) std::memset(c.buffer + s.high_water, ' ', s.column - s.high_water);
    char* field = c.buffer + s.column;
    if (d.code == format_code::a_edit) {
        assert(item.text != nullptr);
        std::memcpy(field, item.text, item.length);
    } else {
        assert(item.text == nullptr && d.exponent_digits == 0);
        // A number too wide for its field comes out as asterisks, and this
        // program's statements ask for no diagnostic then.
        (void)render_e_field(std::bit_cast<std::uint32_t>(item.value), static_cast<int>(width), d.digits, field);
    }
    s.column += width;
    s.high_water = std::max(s.high_water, s.column);
    return message::none;
}

}  // namespace

message write_values(std::int32_t unit, format_program program, std::span<const write_item> items) {
    connection* c = find_connection(unit);
    assert(c != nullptr && c->state == connection_state::open);
    if (const message m = check_writable(*c); m != message::none) return m;
    layout_state s{program};
    start_record(s);
    for (const write_item& item : items) {
        if (const message m = place_item(*c, s, item); m != message::none) return m;
    }
    // This program's items always match their descriptors one for one, so
    // the entry after the last one used is the program's end.
    return write_record(*c, s.high_water);
}

}  // namespace textio
