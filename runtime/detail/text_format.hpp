#pragma once

#include "runtime/diagnostics.hpp"

#include <cstddef>
#include <span>

namespace runtime::detail {

// A fixed buffer being filled; what does not fit is dropped, never overrun.
// Allocates nothing and calls nothing that takes a lock, so it may run where
// the heap or the stack is in doubt.
struct text_sink {
    char* data;
    std::size_t capacity;
    std::size_t length = 0;

    void put(char ch) noexcept {
        if (length < capacity) data[length++] = ch;
    }
    void put(const char* text, std::size_t n) noexcept {
        for (std::size_t i = 0; i < n; ++i) put(text[i]);
    }
    void put(const char* text) noexcept {
        while (*text != '\0') put(*text++);
    }
};

// printf conventions for the conversions the message texts and the stack
// table use: flags "-" and "0", width, precision, length "l", and d i u x X s %.
// Arguments are taken in order; a missing one formats as 0 or "".
void format_text(text_sink& sink, const char* format, std::span<const report_argument> arguments) noexcept;

}  // namespace runtime::detail
