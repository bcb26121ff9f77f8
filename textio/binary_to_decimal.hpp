#pragma once

#include <cstdint>

namespace textio {

// Writes exactly width characters to out: the binary32 value bits in the
// exponent form Ew.d, right-justified ("   0.100E+01" for 1.0 in E12.3),
// "NaN" / "Infinity" / "-Infinity" for the specials, and the significant
// digits correctly rounded from the exact value, ties to even. Returns false,
// with width asterisks written, when the value does not fit. Digits come from
// integer arithmetic on the bit pattern, so no floating-point mode can change
// them. Never allocates, never fails.
[[nodiscard]] bool render_e_field(std::uint32_t bits, int width, int digits, char* out) noexcept;

}  // namespace textio
