#include "platform/memory_ops.hpp"

#include <cstdlib>

namespace platform {
namespace {

void* posix_allocate(std::size_t bytes) { return std::malloc(bytes); }
void* posix_allocate_zeroed(std::size_t bytes) { return std::calloc(bytes, 1); }
void* posix_reallocate(void* block, std::size_t bytes) { return std::realloc(block, bytes); }
void posix_release(void* block) { std::free(block); }

constexpr memory_ops posix_memory_ops = {posix_allocate, posix_allocate_zeroed, posix_reallocate,
                                         posix_release};

}  // namespace

const memory_ops& native_memory_ops() noexcept { return posix_memory_ops; }

}  // namespace platform
