#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace textio {

// Each conversion takes the text of one numeric value (length >= 1, not
// terminated) and returns its value, or nullopt where the text is no valid
// value of the type. Pure: no state, no allocation, one pass, and no
// dependence on rounding, flush-to-zero or denormals-are-zero modes.

// An optional sign and decimal digits, within -2147483648..2147483647.
[[nodiscard]] std::optional<std::int32_t> parse_int32(const char* text, std::size_t length) noexcept;

// The binary32 bit pattern by the program's fixed binary64 procedure: the
// first 27 significant digits, at most two binary64 multiply-add steps, one or
// two scalings by table constants, then binary32 rounding (subnormals by
// integer rounding with a sticky digit). Not always the correctly rounded value.
[[nodiscard]] std::optional<std::uint32_t> parse_single_bits(const char* text, std::size_t length) noexcept;

// The nearest binary64 value, for real-form text read into an integer item.
[[nodiscard]] std::optional<double> parse_double(const char* text, std::size_t length) noexcept;

}  // namespace textio
