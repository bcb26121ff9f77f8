#include "textio/format_program.hpp"

#include <cassert>

namespace textio {
namespace {

std::uint32_t read_u16(format_program p, std::size_t at) noexcept {
    return static_cast<std::uint32_t>(p[at] | (p[at + 1] << 8));
}

std::uint32_t read_u32(format_program p, std::size_t at) noexcept {
    return read_u16(p, at) | (read_u16(p, at + 2) << 16);
}

}  // namespace

format_entry decode_format_entry(format_program program, std::size_t offset, std::size_t* next_offset) noexcept {
    assert(offset + 4 <= program.size());
    const auto code = static_cast<format_code>(program[offset]);
    format_entry entry{code, 0, 0, 0, 0};
    switch (code) {
    case format_code::program_start:
    case format_code::program_end:
        *next_offset = offset + 4;
        break;
    case format_code::a_edit:
        entry.repeat = read_u16(program, offset + 2);
        *next_offset = offset + 4;
        break;
    case format_code::e_edit:
        assert(offset + 12 <= program.size());
        entry.exponent_digits = program[offset + 2];
        entry.digits = program[offset + 3];
        entry.repeat = read_u32(program, offset + 4);
        entry.width = read_u32(program, offset + 8);
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
