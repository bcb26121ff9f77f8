#include "textio/binary_to_decimal.hpp"

#include <cstring>

namespace textio {

bool render_e_field(std::uint32_t, int width, int, char* out) noexcept {
    std::memset(out, '*', static_cast<std::size_t>(width));
    return false;
}

}  // namespace textio
