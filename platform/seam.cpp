#include "platform/console_ops.hpp"
#include "platform/file_ops.hpp"
#include "platform/memory_ops.hpp"
#include "platform/stack_ops.hpp"

#include <atomic>

// The operation tables in use. A null pointer means the native backend; tests
// install their own tables, usually to inject faults.
namespace platform {
namespace {

std::atomic<const file_ops*> file_table{nullptr};
std::atomic<const memory_ops*> memory_table{nullptr};
std::atomic<const console_ops*> console_table{nullptr};
std::atomic<const stack_ops*> stack_table{nullptr};

template <typename Ops>
const Ops& current(const std::atomic<const Ops*>& table, const Ops& native) noexcept {
    const Ops* ops = table.load(std::memory_order_acquire);
    return ops != nullptr ? *ops : native;
}

}  // namespace

const file_ops& get_file_ops() noexcept { return current(file_table, native_file_ops()); }
void use_file_ops(const file_ops* ops) noexcept { file_table.store(ops, std::memory_order_release); }

const memory_ops& get_memory_ops() noexcept { return current(memory_table, native_memory_ops()); }
void use_memory_ops(const memory_ops* ops) noexcept { memory_table.store(ops, std::memory_order_release); }

const console_ops& get_console_ops() noexcept { return current(console_table, native_console_ops()); }
void use_console_ops(const console_ops* ops) noexcept { console_table.store(ops, std::memory_order_release); }

const stack_ops& get_stack_ops() noexcept { return current(stack_table, native_stack_ops()); }
void use_stack_ops(const stack_ops* ops) noexcept { stack_table.store(ops, std::memory_order_release); }

}  // namespace platform
