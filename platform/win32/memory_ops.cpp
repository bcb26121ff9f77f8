#include "platform/memory_ops.hpp"

#include <windows.h>

namespace platform {
namespace {

// The process heap, not the C library's: it needs no run-time state of its own,
// so a report can still obtain its buffer while that state is in doubt.
void* win32_allocate(std::size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void* win32_allocate_zeroed(std::size_t bytes) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes); }

void* win32_reallocate(void* block, std::size_t bytes) {
    if (block == nullptr) return win32_allocate(bytes);
    return HeapReAlloc(GetProcessHeap(), 0, block, bytes);
}

void win32_release(void* block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

constexpr memory_ops win32_memory_ops = {win32_allocate, win32_allocate_zeroed, win32_reallocate, win32_release};

}  // namespace

const memory_ops& native_memory_ops() noexcept { return win32_memory_ops; }

}  // namespace platform
