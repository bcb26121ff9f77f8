#include "converter/coordinate_tables.hpp"

#include "platform/memory_ops.hpp"
#include "runtime/diagnostics.hpp"

namespace converter {
namespace {

// 3 columns of 4-byte values per row.
constexpr std::uint64_t bytes_per_row = 12;
constexpr std::uint64_t max_table_bytes = 0xffffffffu;

float* create_table(std::size_t rows) {
    const std::uint64_t bytes = static_cast<std::uint64_t>(rows) * bytes_per_row;
    if (bytes > max_table_bytes) runtime::report_message(textio::message::array_size_overflow);
    if (bytes == 0) return nullptr;
    void* table = platform::get_memory_ops().allocate_zeroed(static_cast<std::size_t>(bytes));
    if (table == nullptr) runtime::report_message(textio::message::insufficient_virtual_memory);
    return static_cast<float*>(table);
}

}  // namespace

coordinate_tables create_coordinate_tables(std::int32_t count) {
    coordinate_tables tables;
    tables.rows = count > 0 ? static_cast<std::size_t>(count) : 0;
    tables.x = create_table(tables.rows);
    tables.y = create_table(tables.rows);
    tables.z = create_table(tables.rows);
    return tables;
}

}  // namespace converter
