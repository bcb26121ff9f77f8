#pragma once

#include <cstddef>
#include <cstdint>

namespace converter {

// The x, y and z tables: max(count, 0) rows, one per triangle, by 3 columns,
// one per vertex, each stored column by column. They live until the process
// ends.
struct coordinate_tables {
    std::size_t rows = 0;
    float* x = nullptr;
    float* y = nullptr;
    float* z = nullptr;

    // Element (i, k): triangle i, vertex k, both from 0.
    [[nodiscard]] std::size_t index(std::size_t i, std::size_t k) const noexcept { return k * rows + i; }
};

// Creates the three tables, every element 0.0, for count triangles (a count
// below 0 gives empty tables). A byte size past 32 bits, or storage that
// cannot be had, is reported and ends the process.
[[nodiscard]] coordinate_tables create_coordinate_tables(std::int32_t count);

}  // namespace converter
