#include "textio/decimal_to_binary.hpp"

namespace textio {

std::optional<std::int32_t> parse_int32(const char*, std::size_t) noexcept { return std::nullopt; }
std::optional<std::uint32_t> parse_single_bits(const char*, std::size_t) noexcept { return std::nullopt; }
std::optional<double> parse_double(const char*, std::size_t) noexcept { return std::nullopt; }

}  // namespace textio
