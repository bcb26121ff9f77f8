#pragma once

#include <cstdint>
#include <string>

namespace test_support {

// A well-formed input.txt of count triangles with coordinates of a few
// spellings, the same for the same seed.
[[nodiscard]] std::string make_triangle_input(std::uint32_t count, std::uint32_t seed);

}  // namespace test_support
