#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>

namespace textio {

// A stored record layout: entries read from the first byte on, each opening
// with its code; multi-byte operands are little-endian.
using format_program = std::span<const std::uint8_t>;

enum class format_code : std::uint8_t {
    program_start = 0x36,
    program_end = 0x37,
    a_edit = 0x48,  // 4 bytes: repeat count u16 at bytes 2-3; width = the item's length
    e_edit = 0x1f,  // 12 bytes: e at 2, d at 3, repeat u32 at 4-7, width u32 at 8-11
};

// (A): one text, alone on its line.
inline constexpr std::uint8_t text_line_program[] = {
    0x36, 0, 0, 0,  //
    0x48, 0, 1, 0,  //
    0x37, 0, 0, 0,
};

// (A,3E12.3): a text followed directly by three 12-column number fields.
inline constexpr std::uint8_t text_and_three_numbers_program[] = {
    0x36, 0, 0, 0,                          //
    0x48, 0, 1, 0,                          //
    0x1f, 0, 0, 3, 3, 0, 0, 0, 12, 0, 0, 0,  //
    0x37, 0, 0, 0,
};

// One data descriptor as the interpreter meets it.
struct format_entry {
    format_code code;
    std::uint32_t repeat;
    std::uint32_t width;  // 0: the item's own length
    std::uint8_t digits;
    std::uint8_t exponent_digits;  // 0: the default form
};

namespace detail {

[[nodiscard]] constexpr std::uint32_t read_u16(format_program p, std::size_t at) noexcept {
    return static_cast<std::uint32_t>(p[at] | (p[at + 1] << 8));
}

[[nodiscard]] constexpr std::uint32_t read_u32(format_program p, std::size_t at) noexcept {
    return read_u16(p, at) | (read_u16(p, at + 2) << 16);
}

}  // namespace detail

// Decodes the entry at offset: its fields, and the offset of the entry after
// it. Inline: the writer decodes a few entries for every record.
[[nodiscard]] constexpr format_entry decode_format_entry(format_program program, std::size_t offset,
                                                         std::size_t* next_offset) noexcept {
    assert(offset + 4 <= program.size());
    const auto code = static_cast<format_code>(program[offset]);
    format_entry entry{code, 0, 0, 0, 0};
    switch (code) {
    case format_code::program_start:
    case format_code::program_end:
        *next_offset = offset + 4;
        break;
    case format_code::a_edit:
        entry.repeat = detail::read_u16(program, offset + 2);
        *next_offset = offset + 4;
        break;
    case format_code::e_edit:
        assert(offset + 12 <= program.size());
        entry.exponent_digits = program[offset + 2];
        entry.digits = program[offset + 3];
        entry.repeat = detail::read_u32(program, offset + 4);
        entry.width = detail::read_u32(program, offset + 8);
        *next_offset = offset + 12;
        break;
    default:
        assert(false && "unknown format code");
        *next_offset = program.size();
        break;
    }
    return entry;
}

}  // namespace textio
