#pragma once

#include "textio/format_program.hpp"
#include "textio/message.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace textio {

// One item of a write statement: a text (length >= 1) or a binary32 value.
struct write_item {
    const char* text;  // nullptr for a number
    std::size_t length;
    float value;

    [[nodiscard]] static constexpr write_item of_text(const char* t, std::size_t n) noexcept {
        return {t, n, 0.0f};
    }
    [[nodiscard]] static constexpr write_item of_single(float v) noexcept { return {nullptr, 0, v}; }
};

// One edit-directed write statement on unit: lays the items out in one record
// by program and writes it with its terminator. Returns none or the failure.
[[nodiscard]] message write_values(std::int32_t unit, format_program program,
                                   std::span<const write_item> items);

}  // namespace textio
