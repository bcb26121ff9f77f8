#include "tests/support/fault_plan.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace test_support {
namespace {

fault_plan* active = nullptr;

const platform::file_ops& native() { return platform::native_file_ops(); }

std::size_t plan_get_full_path(const char* name, char* buffer, std::size_t bytes) {
    active->record(file_call::get_full_path, 0);
    if (active->refuses_full_path()) return 300;
    return native().get_full_path(name, buffer, bytes);
}

platform::os_result plan_open_file(const char* path, platform::file_access access, platform::file_share share,
                                   platform::file_handle* out) {
    active->record(file_call::open_file, 0);
    platform::os_result r;
    if (active->take_failure(file_call::open_file, &r)) return r;
    return native().open_file(path, access, share, out);
}

platform::file_kind plan_get_file_kind(platform::file_handle h) {
    active->record(file_call::get_file_kind, 0);
    return native().get_file_kind(h);
}

platform::os_result plan_read_file(platform::file_handle h, void* buffer, std::size_t n, std::size_t* got) {
    active->record(file_call::read_file, n);
    platform::os_result r;
    if (active->take_failure(file_call::read_file, &r)) {
        *got = 0;
        return r;
    }
    return native().read_file(h, buffer, n, got);
}

platform::os_result plan_write_file(platform::file_handle h, const void* buffer, std::size_t n, std::size_t* written) {
    active->record(file_call::write_file, n);
    platform::os_result r;
    if (active->take_failure(file_call::write_file, &r)) {
        *written = 0;
        return r;
    }
    return native().write_file(h, buffer, n, written);
}

platform::os_result plan_set_end_of_file(platform::file_handle h) {
    active->record(file_call::set_end_of_file, 0);
    platform::os_result r;
    if (active->take_failure(file_call::set_end_of_file, &r)) return r;
    return native().set_end_of_file(h);
}

platform::os_result plan_close_file(platform::file_handle h) {
    active->record(file_call::close_file, 0);
    platform::os_result r;
    if (active->take_failure(file_call::close_file, &r)) {
        // The handle is gone all the same, as after a real failed close.
        (void)native().close_file(h);
        return r;
    }
    return native().close_file(h);
}

constexpr platform::file_ops plan_file_ops = {
    plan_get_full_path, plan_open_file, plan_get_file_kind, plan_read_file,
    plan_write_file,    plan_set_end_of_file, plan_close_file,
};

void* plan_allocate(std::size_t bytes) {
    active->record_allocation(allocation_call::allocate, bytes);
    return active->take_allocation_failure() ? nullptr : platform::native_memory_ops().allocate(bytes);
}
void* plan_allocate_zeroed(std::size_t bytes) {
    active->record_allocation(allocation_call::allocate_zeroed, bytes);
    return active->take_allocation_failure() ? nullptr : platform::native_memory_ops().allocate_zeroed(bytes);
}
void* plan_reallocate(void* block, std::size_t bytes) {
    active->record_allocation(allocation_call::reallocate, bytes);
    return active->take_allocation_failure() ? nullptr : platform::native_memory_ops().reallocate(block, bytes);
}
void plan_release(void* block) { platform::native_memory_ops().release(block); }

constexpr platform::memory_ops plan_memory_ops = {plan_allocate, plan_allocate_zeroed, plan_reallocate, plan_release};

void plan_write_error_stream(const char* text, std::size_t n) { active->append_error_stream(text, n); }

std::size_t plan_describe_os_error(std::uint32_t code, char* buffer, std::size_t bytes) {
    if (!active->has_text_for(code)) return 0;
    const int n = std::snprintf(buffer, bytes, "text for %u\r\n", code);
    return n < 0 ? 0 : std::min(static_cast<std::size_t>(n), bytes - 1);
}

bool plan_start_console_events(platform::console_event_handler handler) {
    return platform::native_console_ops().start_console_events(handler);
}

constexpr platform::console_ops plan_console_ops = {plan_write_error_stream, plan_describe_os_error,
                                                    plan_start_console_events};

void pass_write_error_stream(const char* text, std::size_t n) {
    platform::native_console_ops().write_error_stream(text, n);
}

constexpr platform::console_ops plan_text_ops = {pass_write_error_stream, plan_describe_os_error,
                                                 plan_start_console_events};

}  // namespace

fault_plan::fault_plan() : recorded_(7, 0), seen_(7, 0) {
    active = this;
    platform::use_file_ops(&plan_file_ops);
    platform::use_memory_ops(&plan_memory_ops);
}

fault_plan::~fault_plan() {
    platform::use_file_ops(nullptr);
    platform::use_memory_ops(nullptr);
    if (captures_errors_) platform::use_console_ops(nullptr);
    active = nullptr;
}

void fault_plan::fail(file_call call, int nth, platform::os_result result) { failures_.push_back({call, nth, result}); }

void fault_plan::on_call(file_call call, int nth, std::function<void()> action) {
    actions_.push_back({call, nth, std::move(action)});
}

void fault_plan::record(file_call call, std::size_t bytes) {
    calls_.push_back({call, bytes});
    const int nth = ++recorded_[static_cast<std::size_t>(call)];
    for (const planned_action& a : actions_) {
        if (a.call == call && a.nth == nth) a.action();
    }
}

void fault_plan::fail_allocation(int nth) { allocation_failures_.push_back(nth); }

void fault_plan::capture_error_stream(std::vector<std::uint32_t> no_text) {
    no_text_ = std::move(no_text);
    captures_errors_ = true;
    platform::use_console_ops(&plan_console_ops);
}

void fault_plan::replace_system_texts(std::vector<std::uint32_t> no_text) {
    no_text_ = std::move(no_text);
    captures_errors_ = true;
    platform::use_console_ops(&plan_text_ops);
}

int fault_plan::count(file_call call) const noexcept {
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                          [call](const file_call_record& r) { return r.call == call; }));
}

bool fault_plan::take_failure(file_call call, platform::os_result* result) {
    const int nth = ++seen_[static_cast<std::size_t>(call)];
    for (const planned_failure& f : failures_) {
        if (f.call == call && f.nth == nth) {
            *result = f.result;
            return true;
        }
    }
    return false;
}

bool fault_plan::take_allocation_failure() {
    const int nth = ++allocations_;
    return std::find(allocation_failures_.begin(), allocation_failures_.end(), nth) != allocation_failures_.end();
}

bool fault_plan::has_text_for(std::uint32_t code) const {
    return std::find(no_text_.begin(), no_text_.end(), code) == no_text_.end();
}

}  // namespace test_support
