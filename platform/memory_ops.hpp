#pragma once

#include <cstddef>

namespace platform {

// Heap storage whose exhaustion is a reported outcome. Every call returns
// nullptr on failure and never throws; release takes nullptr.
struct memory_ops {
    void* (*allocate)(std::size_t bytes);
    void* (*allocate_zeroed)(std::size_t bytes);
    void* (*reallocate)(void* block, std::size_t bytes);
    void (*release)(void* block);
};

[[nodiscard]] const memory_ops& get_memory_ops() noexcept;
[[nodiscard]] const memory_ops& native_memory_ops() noexcept;
void use_memory_ops(const memory_ops* ops) noexcept;

}  // namespace platform
