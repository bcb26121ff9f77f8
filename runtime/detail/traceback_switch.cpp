#include "runtime/detail/traceback_switch.hpp"

#include "platform/memory_ops.hpp"

#include <atomic>
#include <new>

namespace runtime::detail {
namespace {

std::atomic<traceback_switch*> current_switch{nullptr};

}  // namespace

bool create_traceback_switch() noexcept {
    void* storage = platform::get_memory_ops().allocate(sizeof(traceback_switch));
    if (storage == nullptr) return false;
    traceback_switch* created = new (storage) traceback_switch{};
    traceback_switch* old = current_switch.exchange(created, std::memory_order_acq_rel);
    platform::get_memory_ops().release(old);
    return true;
}

traceback_switch* find_traceback_switch() noexcept { return current_switch.load(std::memory_order_acquire); }

void release_traceback_switch(bool may_free) noexcept {
    traceback_switch* old = current_switch.exchange(nullptr, std::memory_order_acq_rel);
    if (may_free) platform::get_memory_ops().release(old);
}

}  // namespace runtime::detail
