#include "textio/free_form_reader.hpp"

namespace textio {

message read_values(std::int32_t, std::span<const read_item>) { return message::none; }

}  // namespace textio
