#pragma once

#include "textio/message.hpp"

#include <cstdint>
#include <span>

namespace textio {

enum class item_kind : std::uint8_t { int32, single_real };

// One item of a read statement: what it is and where its value goes. An item
// that gets a null value, or comes after a slash, is left as it was.
struct read_item {
    item_kind kind;
    void* storage;  // std::int32_t* or float*
};

// One free-form read statement on unit: starts at the next record, fills the
// items in order (across records as needed) and drops what its last record
// still holds. Returns none or the statement's failure.
[[nodiscard]] message read_values(std::int32_t unit, std::span<const read_item> items);

}  // namespace textio
